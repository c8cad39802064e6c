package bench;

import java.util.ArrayList;
import java.util.List;

/**
 * The same mix of static and instance calls split over a number of threads;
 * the total work does not depend on the thread count, so runs with 2 and 8
 * threads compare directly.
 */
public final class Threads {
  private final long[] cells = new long[64];

  long touch(int i, long x) {
    cells[i & 63] += x;
    return cells[i & 63];
  }

  static long mix(long a, long b) {
    return a * 31 + b;
  }

  static long work(int calls) {
    Threads[] objects = new Threads[256];
    for (int i = 0; i < objects.length; i++) {
      objects[i] = new Threads();
    }
    long sum = 0;
    for (int i = 0; i < calls; i++) {
      sum = mix(sum, objects[i & 255].touch(i, i));
    }
    return sum;
  }

  /** Arguments: thread count, total loop iterations (two calls each). */
  public static void main(String[] args) throws InterruptedException {
    int threads = Bench.arg(args, 0, 2);
    int total = Bench.arg(args, 1, 2_000_000);
    long[] sums = new long[threads];
    List<Thread> workers = new ArrayList<>();
    long start = System.nanoTime();
    for (int t = 0; t < threads; t++) {
      final int index = t;
      Thread worker = new Thread(() -> sums[index] = work(total / threads), "worker-" + t);
      workers.add(worker);
      worker.start();
    }
    long sum = 0;
    for (int t = 0; t < threads; t++) {
      workers.get(t).join();
      sum += sums[t];
    }
    Bench.done(start, sum);
  }
}
