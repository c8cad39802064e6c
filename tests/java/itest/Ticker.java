package itest;

import java.io.File;

// Calls a few methods every 10 ms until a file named "stop" appears in the
// working directory or the seconds given are over, then exits with the status
// given; a status of -9 kills the VM with SIGKILL instead. Prints "ticking"
// once it runs, so that a test knows the VM is ready for signals.
public class Ticker {
    private int count;

    void tick() {
        count++;
    }

    static int twice(int x) {
        return 2 * x;
    }

    public static void main(String[] args) throws Exception {
        long seconds = Long.parseLong(args[0]);
        int status = args.length > 1 ? Integer.parseInt(args[1]) : 0;
        Ticker ticker = new Ticker();
        System.out.println("ticking");
        System.out.flush();
        long end = System.nanoTime() + seconds * 1_000_000_000L;
        do {
            ticker.tick();
            twice(ticker.count);
            Thread.sleep(10);
        } while (System.nanoTime() < end && !new File("stop").exists());
        if (status == -9) {
            String pid = Long.toString(ProcessHandle.current().pid());
            new ProcessBuilder("kill", "-9", pid).start().waitFor();
            Thread.sleep(10_000);
        }
        System.exit(status);
    }
}
