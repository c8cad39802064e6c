package bench;

import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicInteger;

// Two workloads for virtual threads (made by reflection, so that the class
// builds for JDK 17 like the others; they run on 21 and later):
//   park N            N virtual threads parked three calls deep at once
//   work vt|pt T M    T virtual or platform threads, each making M rounds of
//                     three nested static calls; prints the time of the work
public class VirtualThreadsBench {
  static final CountDownLatch release = new CountDownLatch(1);
  static final AtomicInteger parked = new AtomicInteger();

  static int parkC(int k) throws InterruptedException {
    parked.incrementAndGet();
    release.await();
    return k;
  }

  static int parkB(int k) throws InterruptedException {
    return parkC(k) + 1;
  }

  static int parkA(int k) {
    try {
      return parkB(k);
    } catch (InterruptedException e) {
      return -1;
    }
  }

  static int workC(int k) {
    return k * 31 + 7;
  }

  static int workB(int k) {
    return workC(k) ^ k;
  }

  static int workA(int k) {
    return workB(k) + 1;
  }

  static volatile int sink;

  static Thread start(boolean virtual, Runnable task) throws Exception {
    if (!virtual) {
      final Thread thread = new Thread(task);
      thread.start();
      return thread;
    }
    final Object builder = Thread.class.getMethod("ofVirtual").invoke(null);
    final Method start = Class.forName("java.lang.Thread$Builder").getMethod("start", Runnable.class);
    return (Thread) start.invoke(builder, task);
  }

  public static void main(String[] args) throws Exception {
    final List<Thread> threads = new ArrayList<>();
    if (args[0].equals("park")) {
      final int count = Integer.parseInt(args[1]);
      for (int i = 0; i < count; ++i) {
        final int k = i;
        threads.add(start(true, () -> parkA(k)));
      }
      while (parked.get() < count) Thread.sleep(5);
      System.out.println("parked " + count);
      release.countDown();
    } else {
      final boolean virtual = args[1].equals("vt");
      final int count = Integer.parseInt(args[2]);
      final int rounds = Integer.parseInt(args[3]);
      final long started = System.nanoTime();
      for (int i = 0; i < count; ++i) {
        threads.add(start(virtual, () -> {
          int sum = 0;
          for (int k = 0; k < rounds; ++k) sum += workA(k);
          sink = sum;
        }));
      }
      for (Thread thread : threads) thread.join();
      System.out.println("work_ns " + (System.nanoTime() - started));
    }
    for (Thread thread : threads) thread.join();
  }
}
