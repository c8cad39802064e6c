package bench;

/**
 * Frames left by exceptions: each throw unwinds a stack of calls, so every
 * exit is popped by an exception and every throw raises an Exception event.
 */
public final class Exceptions {
  private static final int DEPTH = 12;

  /** Carries no stack trace: the cost measured is the unwinding, not the trace. */
  static final class Unwind extends RuntimeException {
    private static final long serialVersionUID = 1L;
    final int depth;

    Unwind(int depth) {
      super(null, null, false, false);
      this.depth = depth;
    }
  }

  private int thrown;

  void dive(int depth) {
    if (depth == 0) {
      thrown++;
      throw new Unwind(thrown);
    }
    dive(depth - 1);
  }

  static int rethrowing(Exceptions target, int depth) {
    try {
      target.dive(depth);
      return 0;
    } catch (Unwind e) {
      throw new IllegalStateException(e);
    }
  }

  /** Argument: throws; every fourth one is caught and wrapped half-way. */
  public static void main(String[] args) {
    int throwsCount = Bench.arg(args, 0, 60_000);
    Exceptions target = new Exceptions();
    long start = System.nanoTime();
    long sum = 0;
    for (int i = 0; i < throwsCount; i++) {
      try {
        if (i % 4 == 0) {
          rethrowing(target, DEPTH);
        } else {
          target.dive(DEPTH);
        }
      } catch (Unwind e) {
        sum += e.depth;
      } catch (IllegalStateException e) {
        sum += 1;
      }
    }
    Bench.done(start, sum);
  }
}
