package bench;

/** What every workload shares: its size argument and the report the harness reads. */
final class Bench {
  private Bench() {}

  /** The integer argument at the index, or the fallback when it is absent. */
  static int arg(String[] args, int index, int fallback) {
    return args.length > index ? Integer.parseInt(args[index]) : fallback;
  }

  /**
   * Prints the time of the measured part alone, without JVM start-up and
   * agent shutdown, and a checksum so that no work can be optimised away.
   */
  static void done(long startNanos, long checksum) {
    long elapsed = System.nanoTime() - startNanos;
    System.out.println("bench-work-ns " + elapsed + " checksum " + checksum);
  }
}
