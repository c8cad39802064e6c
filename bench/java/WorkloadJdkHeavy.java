package bench;

import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * Mostly calls into the JDK (collections, boxing, string building and
 * formatting): per record one call of its own, static, against a few hundred
 * JDK calls, and one instance call per hundred records. With filters that
 * keep only package bench nearly every event is a filtered one, and a
 * receiver is due for only a handful of the logged entries.
 */
public final class WorkloadJdkHeavy {
  private final Map<String, Integer> counts = new HashMap<>();
  private final List<String> lines = new ArrayList<>();

  static void record(Map<String, Integer> counts, List<String> lines, int i) {
    String key = "key" + (i % 97);
    // No lambda or method reference: its hidden class would sit in package
    // bench and add a logged instance call to every record.
    counts.put(key, counts.getOrDefault(key, 0) + 1);
    StringBuilder line = new StringBuilder();
    line.append(key).append('=').append(counts.get(key));
    lines.add(line.toString());
    if (i % 8 == 0) {
      lines.add(String.format("%05d:%s", i, key));
    }
  }

  long flush() {
    Collections.sort(lines);
    long sum = 0;
    for (String line : lines) {
      sum += line.hashCode();
    }
    lines.clear();
    return sum;
  }

  /** Argument: records; the list is sorted and emptied every 100 records. */
  public static void main(String[] args) {
    int records = Bench.arg(args, 0, 20_000);
    WorkloadJdkHeavy workload = new WorkloadJdkHeavy();
    // The first records bootstrap string concatenation and formatting, work
    // that happens once per process and would swamp short runs.
    for (int i = 1; i <= 20; i++) {
      record(workload.counts, workload.lines, i);
    }
    workload.flush();
    long start = System.nanoTime();
    long sum = 0;
    for (int i = 1; i <= records; i++) {
      record(workload.counts, workload.lines, i);
      if (i % 100 == 0) {
        sum += workload.flush();
      }
    }
    Bench.done(start, sum + workload.flush());
  }
}
