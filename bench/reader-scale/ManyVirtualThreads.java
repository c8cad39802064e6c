package readerscale;

import java.util.ArrayList;
import java.util.List;

// Starts N virtual threads, each making a few nested calls, at most `window`
// alive at once; the reader's scaling is measured on the run it leaves.
public class ManyVirtualThreads {
  static int leaf(int x) { return x * 31 + 7; }

  static int middle(int x) { return leaf(x) + leaf(x + 1); }

  static int task(int i) { return middle(i) ^ leaf(i); }

  public static void main(String[] args) throws InterruptedException {
    final int count = Integer.parseInt(args[0]);
    final int window = 10_000;
    long sum = 0;
    final int[] results = new int[count];
    for (int start = 0; start < count; start += window) {
      final List<Thread> threads = new ArrayList<>();
      for (int i = start; i < Math.min(count, start + window); i++) {
        final int n = i;
        threads.add(Thread.ofVirtual().start(() -> results[n] = task(n)));
      }
      for (Thread thread : threads) thread.join();
    }
    for (int r : results) sum += r;
    System.out.println("sum " + sum);
  }
}
