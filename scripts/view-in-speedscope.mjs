// Loads a profile (speedscope or Chrome trace JSON) into the speedscope
// viewer in headless Chromium and waits until the viewer shows it: proof that
// a real viewer takes the reader's output, beyond the schema.
//   node view-in-speedscope.mjs <viewer dir> <profile> <screenshot.png>
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const [viewerDir, profilePath, screenshot] = process.argv.slice(2);
const require = createRequire(path.join(viewerDir, 'package.json'));
const puppeteer = require('puppeteer-core');
const release = path.join(path.dirname(require.resolve('speedscope/package.json')), 'dist', 'release');

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
                '.json': 'application/json', '.png': 'image/png', '.woff2': 'font/woff2' };
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
  const file = name === '/profile.json' ? profilePath : path.join(release, path.normalize(name));
  fs.readFile(file, (error, data) => {
    if (error) { response.writeHead(404); response.end(); return; }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    response.end(data);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--headless=new'],
});
let failure = null;
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 800 });
  const problems = [];
  page.on('pageerror', (error) => problems.push(String(error)));
  page.on('dialog', async (dialog) => { problems.push('dialog: ' + dialog.message()); await dialog.dismiss(); });
  await page.goto(`${base}/index.html#profileURL=${encodeURIComponent(base + '/profile.json')}`);
  // The viewer names the loaded profile in the title; the start page does not.
  // A large profile takes the viewer minutes on a busy machine.
  const seconds = Number(process.env.KOLVAPROF_VIEWER_SECONDS || 30);
  await page.waitForFunction(() => / - speedscope$/.test(document.title), { timeout: seconds * 1000 });
  await new Promise((resolve) => setTimeout(resolve, 1000));
  await page.screenshot({ path: screenshot });
  console.log(`loaded: ${await page.title()}`);
  if (problems.length > 0) failure = problems.join('\n');
} catch (error) {
  failure = String(error);
} finally {
  await browser.close();
  server.close();
}
if (failure) {
  console.error(`not loaded: ${failure}`);
  process.exit(1);
}
