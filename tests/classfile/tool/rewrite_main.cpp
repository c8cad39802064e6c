// classfile-rewrite: rewrites every .class file under a directory with every
// method selected, for the real-JVM tests and the corpus run.
//
//   classfile-rewrite [options] IN OUT
//     --owner NAME        internal name of the hooks class (kolvaprof/Hooks)
//     --first-number N    number of the first method (1); later ones count up
//     --methods FILE      writes "number class.name descriptor" per method
//     --none              selects no method (copies, or only downgrades)
//     --leaves            reports calls through leaf code with one hook
//     --downgrade MAJOR   first turns each class into that older version,
//                         without StackMapTable (for classes that allow it)
//     --verbose           names every method that was left as it is
//     --emit-hooks DIR    also writes a hooks class whose hooks do nothing
//
// Prints the counts (classes and methods, reasons of the left ones) and exits
// 1 when a class could not be read.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "classfile/byte_io.h"
#include "classfile/class_file.h"
#include "classfile/class_rewriter.h"
#include "classfile/hook_signature.h"
#include "classfile/stack_map.h"

namespace fs = std::filesystem;
using namespace kolvaprof::classfile;

namespace {

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The class as an older class file: new version, no StackMapTable.
std::vector<uint8_t> downgrade(const std::vector<uint8_t>& bytes, uint16_t major) {
  ClassFile cls = parseClassFile(bytes.data(), bytes.size());
  cls.majorVersion = major;
  cls.minorVersion = 0;
  for (Method& m : cls.methods) {
    for (Attribute& a : m.attributes) {
      if (cls.pool.utf8(a.nameIndex) != "Code") continue;
      ByteReader in(a.data, a.size);
      ByteWriter out;
      out.append(in.take(4), 4);
      uint32_t length = in.u4();
      out.u4(length);
      out.append(in.take(length), length);
      uint16_t handlers = in.u2();
      out.u2(handlers);
      out.append(in.take(8u * handlers), 8u * handlers);
      std::vector<Attribute> kept;
      for (Attribute& inner : readAttributes(in))
        if (cls.pool.utf8(inner.nameIndex) != "StackMapTable") kept.push_back(inner);
      writeAttributes(out, kept);
      a.replaced = true;
      a.replacement = std::move(out.bytes());
    }
  }
  return writeClassFile(cls);
}

// A hooks class with every hook, each returning at once (receiverNumber
// with 0), for runs that only verify and execute.
std::vector<uint8_t> emptyHooksClass(const std::string& owner) {
  constexpr int kHooks = static_cast<int>(kHookCount);
  const auto hook = [](int k) { return hookSignature(static_cast<Hook>(k)); };
  ByteWriter out;
  out.u4(0xCAFEBABE);
  out.u2(0);
  out.u2(52);
  auto utf8 = [&](const std::string& s) {
    out.u1(1);
    out.u2(static_cast<uint32_t>(s.size()));
    out.append(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };
  out.u2(6 + 2 * kHooks);
  utf8(owner);                // 1
  out.u1(7), out.u2(1);       // 2
  utf8("java/lang/Object");   // 3
  out.u1(7), out.u2(3);       // 4
  utf8("Code");               // 5
  for (int k = 0; k < kHooks; ++k) utf8(hook(k).name), utf8(hook(k).descriptor);  // 6, 7, ...
  out.u2(0x0031);  // public final super
  out.u2(2);
  out.u2(4);
  out.u2(0);
  out.u2(0);
  out.u2(kHooks);
  for (int k = 0; k < kHooks; ++k) {
    out.u2(0x0009);  // public static
    out.u2(6 + 2 * k);
    out.u2(7 + 2 * k);
    out.u2(1);
    out.u2(5);
    const std::string_view descriptor = hook(k).descriptor;
    const bool returnsLong = descriptor.back() == 'J';
    const std::vector<uint8_t> code = returnsLong ? std::vector<uint8_t>{0x09, 0xad}  // lconst_0; lreturn
                                                  : std::vector<uint8_t>{0xb1};       // return
    out.u4(static_cast<uint32_t>(12 + code.size()));
    out.u2(returnsLong ? 2 : 0);
    out.u2(static_cast<uint32_t>(initialFrame(owner, hook(k).name, descriptor, true).locals.size()));
    out.u4(static_cast<uint32_t>(code.size()));
    out.append(code.data(), code.size());
    out.u2(0);
    out.u2(0);
  }
  out.u2(0);
  return std::move(out.bytes());
}

std::string reasonKind(const std::string& reason) {
  std::size_t colon = reason.find(':');
  return colon == std::string::npos ? reason : reason.substr(0, colon);
}

}  // namespace

int main(int argc, char** argv) {
  HookNames hooks;
  int32_t next = 1;
  std::string methodsFile, emitHooks;
  bool none = false, verbose = false;
  int downgradeTo = 0;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--owner") hooks.owner = value();
    else if (a == "--first-number") next = std::stoi(value());
    else if (a == "--methods") methodsFile = value();
    else if (a == "--none") none = true;
    else if (a == "--leaves") hooks.leaves = true;
    else if (a == "--downgrade") downgradeTo = std::stoi(value());
    else if (a == "--verbose") verbose = true;
    else if (a == "--emit-hooks") emitHooks = value();
    else paths.push_back(a);
  }
  if (paths.size() != 2) {
    std::cerr << "usage: classfile-rewrite [options] IN OUT\n";
    return 2;
  }
  fs::path in = paths[0], out = paths[1];
  if (!emitHooks.empty())
    writeBytes(fs::path(emitHooks) / (hooks.owner + ".class"), emptyHooksClass(hooks.owner));
  std::ofstream methods;
  if (!methodsFile.empty()) methods.open(methodsFile);

  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(in))
    if (e.is_regular_file() && e.path().extension() == ".class") files.push_back(e.path());
  std::sort(files.begin(), files.end());

  long rewritten = 0, unchanged = 0, refused = 0, methodsRewritten = 0, methodsLeft = 0;
  std::map<std::string, long> leftBy, unchangedBy, refusedBy;
  for (const fs::path& file : files) {
    std::vector<uint8_t> bytes = readBytes(file);
    if (downgradeTo) bytes = downgrade(bytes, static_cast<uint16_t>(downgradeTo));
    std::string currentClass;
    MethodSelector select = [&](const MethodDescription& m) -> std::optional<int32_t> {
      if (none) return std::nullopt;
      if (methods.is_open())
        methods << next << ' ' << m.className << '.' << m.name << m.descriptor << '\n';
      currentClass = std::string(m.className);
      return next++;
    };
    RewriteResult r = rewriteClass(bytes.data(), bytes.size(), select, hooks);
    fs::path target = out / fs::relative(file, in);
    methodsRewritten += r.methodsRewritten;
    methodsLeft += r.methodsLeft;
    for (const auto& left : r.left) {
      ++leftBy[reasonKind(left.reason)];
      if (verbose)
        std::cout << "left " << currentClass << '.' << left.name << left.descriptor << ": "
                  << left.reason << '\n';
    }
    switch (r.outcome) {
      case RewriteResult::Outcome::Rewritten:
        ++rewritten;
        writeBytes(target, r.bytes);
        break;
      case RewriteResult::Outcome::Unchanged:
        ++unchanged;
        ++unchangedBy[r.reason];
        writeBytes(target, bytes);
        break;
      case RewriteResult::Outcome::Refused:
        ++refused;
        ++refusedBy[r.reason];
        std::cout << "refused " << file.string() << ": " << r.reason << '\n';
        writeBytes(target, bytes);
        break;
    }
  }
  std::cout << "classes: " << files.size() << ", rewritten " << rewritten << ", unchanged "
            << unchanged << ", refused " << refused << '\n';
  for (const auto& [reason, count] : unchangedBy) std::cout << "  unchanged: " << reason << ": " << count << '\n';
  std::cout << "methods: rewritten " << methodsRewritten << ", left as they are " << methodsLeft << '\n';
  for (const auto& [reason, count] : leftBy) std::cout << "  left: " << reason << ": " << count << '\n';
  return refused ? 1 : 0;
}
