package itest;

import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;

// Virtual threads that park inside nested calls and resume wherever the
// scheduler puts them; every fifth call returns by an exception, every
// hundredth thread ends by one, and the last `stuck` threads are still
// parked inside their calls at System.exit. Even threads are named "vt-K",
// odd ones unnamed. Virtual threads are made by reflection, so that the
// program builds for every JDK the tests run on.
// Arguments: thread count, stuck count.
public class VirtualThreads {
  static final CountDownLatch never = new CountDownLatch(1);

  static int inner(int k) throws InterruptedException {
    Thread.sleep(1 + k % 3);
    if (k % 5 == 4) throw new IllegalStateException("k" + k);
    return k;
  }

  static int middle(int k) throws InterruptedException {
    return inner(k) + 1;
  }

  static int outer(int k) {
    try {
      return middle(k);
    } catch (IllegalStateException | InterruptedException e) {
      return -1;
    }
  }

  static void stuck(int k) throws InterruptedException {
    never.await();
  }

  static final class Quiet implements Thread.UncaughtExceptionHandler {
    public void uncaughtException(Thread thread, Throwable failure) {
      // the thread ends; nothing to report
    }
  }

  static final class Task implements Runnable {
    final int k;
    final boolean parkForever;

    Task(int k, boolean parkForever) {
      this.k = k;
      this.parkForever = parkForever;
    }

    public void run() {
      outer(k);
      if (!parkForever && k % 100 == 99) throw new IllegalArgumentException("k" + k);
      try {
        if (parkForever) stuck(k);
      } catch (InterruptedException e) {
        // exit anyway
      }
    }
  }

  public static void main(String[] args) throws Exception {
    final int count = Integer.parseInt(args[0]);
    final int stuck = Integer.parseInt(args[1]);
    Thread.setDefaultUncaughtExceptionHandler(new Quiet());
    final Object virtualBuilder = Thread.class.getMethod("ofVirtual").invoke(null);
    final Class<?> builder = Class.forName("java.lang.Thread$Builder");
    final Method name = builder.getMethod("name", String.class);
    final Method start = builder.getMethod("start", Runnable.class);
    final Method unstarted = builder.getMethod("unstarted", Runnable.class);
    final Object unnamedBuilder = Thread.class.getMethod("ofVirtual").invoke(null);
    final List<Thread> finishing = new ArrayList<>();
    final List<Thread> parked = new ArrayList<>();
    for (int k = 0; k < count; ++k) {
      final boolean parkForever = k >= count - stuck;
      final Task task = new Task(k, parkForever);
      final Thread thread = k % 2 == 0
          ? (Thread) start.invoke(name.invoke(virtualBuilder, "vt-" + k), task)
          : (Thread) start.invoke(unnamedBuilder, task);
      (parkForever ? parked : finishing).add(thread);
    }
    for (Thread thread : finishing) thread.join();
    // Stuck threads are inside stuck() once they wait on the latch.
    for (Thread thread : parked) {
      while (thread.getState() != Thread.State.WAITING) Thread.sleep(1);
    }
    System.out.println("virtual threads done");
    System.exit(0);
  }
}
