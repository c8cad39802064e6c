package bench;

/**
 * Instance calls spread over many objects, with a steady trickle of new ones,
 * so that receiver tags are both looked up and handed out all the time.
 */
public final class InstanceCalls {
  private static final int OBJECTS = 20_000;
  private static final int REPLACED_PER_ROUND = 200;

  private long value;

  InstanceCalls(long value) {
    this.value = value;
  }

  long step(long x) {
    value = value * 31 + x;
    return value;
  }

  long peek() {
    return value;
  }

  /** Argument: rounds over all objects, two calls per object each. */
  public static void main(String[] args) {
    int rounds = Bench.arg(args, 0, 100);
    InstanceCalls[] objects = new InstanceCalls[OBJECTS];
    for (int i = 0; i < OBJECTS; i++) {
      objects[i] = new InstanceCalls(i);
    }
    long start = System.nanoTime();
    long sum = 0;
    int next = 0;
    for (int round = 0; round < rounds; round++) {
      for (int i = 0; i < OBJECTS; i++) {
        sum += objects[i].step(i) ^ objects[i].peek();
      }
      for (int i = 0; i < REPLACED_PER_ROUND; i++) {
        objects[next] = new InstanceCalls(round);
        next = (next + 1) % OBJECTS;
      }
    }
    Bench.done(start, sum);
  }
}
