package itest;

import java.util.concurrent.CyclicBarrier;

// Threads meeting fresh objects at once: each round makes new objects, and
// every thread, released together by a barrier, calls touch() on each of
// them in the same order, so that the k-th touch() of a round is on the
// k-th object in every thread's log.
// Arguments: thread count, rounds, objects per round.
public class ReceiverRace {
  static final class Item {
    int touched;

    void touch() {
      touched++;
    }
  }

  static volatile Item[] items;

  public static void main(String[] args) throws Exception {
    final int threads = Integer.parseInt(args[0]);
    final int rounds = Integer.parseInt(args[1]);
    final int perRound = Integer.parseInt(args[2]);
    final CyclicBarrier barrier = new CyclicBarrier(threads, () -> {
      final Item[] fresh = new Item[perRound];
      for (int i = 0; i < perRound; ++i) fresh[i] = new Item();
      items = fresh;
    });
    final Thread[] workers = new Thread[threads];
    for (int t = 0; t < threads; ++t) {
      workers[t] = new Thread(() -> {
        try {
          for (int r = 0; r < rounds; ++r) {
            barrier.await();
            for (Item item : items) item.touch();
            barrier.await();
          }
        } catch (Exception e) {
          throw new RuntimeException(e);
        }
      }, "racer-" + t);
      workers[t].start();
    }
    for (Thread worker : workers) worker.join();
    System.out.println("race done");
  }
}
