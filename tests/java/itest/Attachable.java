package itest;

import java.io.File;
import java.lang.reflect.Method;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.List;

// A program that runs on while an agent is attached to it and detached
// again. Each round, main, a platform worker and (where the VM has them)
// two virtual threads make the same nest of calls, and main prints
// "round N sum S", S depending on N alone. Before each round it writes the
// bytecodes of Shapes.area as the VM now runs them to <dir>/bytecodes (hex),
// through a probe library of the tests. A daemon thread, "holder", spends
// its time inside Shapes.hold. It ends with status 0 once <dir>/stop exists.
// Arguments: control directory, probe library path.
public class Attachable {
  static native byte[] bytecodes(Method method);

  static final class Shapes {
    final int side;

    Shapes(int side) {
      this.side = side;
    }

    int area() {
      return side * side;
    }

    static int total(int round) {
      int sum = 0;
      for (int i = 0; i < 5; ++i) sum += new Shapes(round + i).area();
      try {
        check(round);
      } catch (IllegalStateException e) {
        sum += 1;
      }
      return sum;
    }

    // Long enough that an attach or a detach finds a thread inside it.
    static void hold() throws InterruptedException {
      Thread.sleep(700);
    }

    static void check(int round) {
      if (round % 3 == 0) throw new IllegalStateException("round " + round);
    }
  }

  static final class Worker implements Runnable {
    final int round;
    int result;

    Worker(int round) {
      this.round = round;
    }

    public void run() {
      result = Shapes.total(round);
    }
  }

  static String hex(byte[] bytes) {
    StringBuilder text = new StringBuilder();
    for (byte b : bytes) text.append(String.format("%02x", b & 0xff));
    return text.toString();
  }

  public static void main(String[] args) throws Exception {
    final File dir = new File(args[0]);
    System.load(args[1]);
    final Method area = Shapes.class.getDeclaredMethod("area");
    Method ofVirtual = null;
    Method start = null;
    try {
      ofVirtual = Thread.class.getMethod("ofVirtual");
      start = Class.forName("java.lang.Thread$Builder").getMethod("start", Runnable.class);
    } catch (NoSuchMethodException | ClassNotFoundException e) {
      // a VM without virtual threads: platform threads alone
    }
    final Thread holder = new Thread(() -> {
      try {
        while (true) Shapes.hold();
      } catch (InterruptedException e) {
        // the program ends
      }
    }, "holder");
    holder.setDaemon(true);
    holder.start();
    final File probe = new File(dir, "bytecodes");
    final File probeNext = new File(dir, "bytecodes.next");
    for (int round = 0; !new File(dir, "stop").exists(); ++round) {
      Files.write(probeNext.toPath(), hex(bytecodes(area)).getBytes());
      Files.move(probeNext.toPath(), probe.toPath(), StandardCopyOption.REPLACE_EXISTING,
                 StandardCopyOption.ATOMIC_MOVE);
      final List<Worker> workers = new ArrayList<>();
      final List<Thread> threads = new ArrayList<>();
      final Worker platform = new Worker(round);
      final Thread worker = new Thread(platform, "worker");
      worker.start();
      workers.add(platform);
      threads.add(worker);
      for (int v = 0; ofVirtual != null && v < 2; ++v) {
        final Worker virtual = new Worker(round);
        threads.add((Thread) start.invoke(ofVirtual.invoke(null), virtual));
        workers.add(virtual);
      }
      int sum = Shapes.total(round);
      for (Thread thread : threads) thread.join();
      for (Worker done : workers) {
        if (done.result != sum) sum = -1;
      }
      System.out.println("round " + round + " sum " + sum);
      Thread.sleep(20);
    }
    System.out.println("stopped");
  }
}
