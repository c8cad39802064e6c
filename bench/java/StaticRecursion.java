package bench;

/** Static calls only: every entry has no receiver, so no tagging is ever due. */
public final class StaticRecursion {
  private StaticRecursion() {}

  static int fib(int n) {
    return n < 2 ? n : fib(n - 1) + fib(n - 2);
  }

  /** Argument: rounds of fib(20), 21891 calls each. */
  public static void main(String[] args) {
    int rounds = Bench.arg(args, 0, 200);
    long start = System.nanoTime();
    long sum = 0;
    for (int i = 0; i < rounds; i++) {
      sum += fib(20);
    }
    Bench.done(start, sum);
  }
}
