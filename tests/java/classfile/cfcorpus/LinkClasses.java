package cfcorpus;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Loads and links every class named in a file (one binary name a line)
 * without initialising it, so that the JVM verifies each one, and counts the
 * outcomes: linked, failed verification or format checks (VerifyError,
 * ClassFormatError), or other linkage errors (a class that another one needs
 * is missing, and the like).
 *
 * Linking is forced through reflection: asking for a class's declared methods
 * links it first, and links without running its static initialiser.
 *
 * Prints the counts, then the first failures in full, and exits 1 when a class
 * failed verification.
 */
public final class LinkClasses {
  public static void main(String[] args) throws IOException {
    List<String> names = Files.readAllLines(Path.of(args[0]));
    int shown = args.length > 1 ? Integer.parseInt(args[1]) : 20;
    ClassLoader loader = ClassLoader.getSystemClassLoader();
    int linked = 0;
    List<String> failed = new ArrayList<>();
    Map<String, Integer> other = new LinkedHashMap<>();
    List<String> otherExamples = new ArrayList<>();
    for (String name : names) {
      if (name.isEmpty()) continue;
      try {
        Class<?> c = Class.forName(name, false, loader);
        c.getDeclaredMethods();
        linked++;
      } catch (VerifyError | ClassFormatError e) {
        failed.add(name + ": " + e);
      } catch (Throwable e) {
        other.merge(e.getClass().getName(), 1, Integer::sum);
        if (otherExamples.size() < shown) otherExamples.add(name + ": " + e);
      }
    }
    int otherCount = other.values().stream().mapToInt(Integer::intValue).sum();
    System.out.println("classes " + names.size() + ", linked " + linked + ", verification failed "
        + failed.size() + ", other linkage errors " + otherCount + " " + other);
    for (String f : failed.subList(0, Math.min(shown, failed.size()))) System.out.println("FAILED " + f);
    for (String o : otherExamples) System.out.println("other " + o);
    System.exit(failed.isEmpty() ? 0 : 1);
  }
}
