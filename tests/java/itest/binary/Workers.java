package itest.binary;

import java.util.concurrent.CountDownLatch;

// Three workers, two of them with the same name, run at the same time. Each
// thread's calls are fixed, and the threads are started one after another so
// that the first twin always makes the first thread context of the two.
public class Workers extends Thread {
    private final int seed;
    private final CountDownLatch started;
    private final CountDownLatch go;

    Workers(String name, int seed, CountDownLatch started, CountDownLatch go) {
        super(name);
        this.seed = seed;
        this.started = started;
        this.go = go;
    }

    static final class Counter {
        private int total;

        int add(int x) {
            total += x;
            return total;
        }
    }

    static int depth(int n) {
        return n == 0 ? 0 : 1 + depth(n - 1);
    }

    static int descend(int n) {
        if (n == 0) {
            throw new IllegalStateException("bottom");
        }
        return descend(n - 1) + 1;
    }

    static void waitFor(CountDownLatch latch) {
        try {
            latch.await();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    @Override
    public void run() {
        started.countDown();
        waitFor(go);
        Counter a = new Counter();
        Counter b = new Counter();
        for (int i = 0; i <= seed; i++) {
            a.add(depth(i));
            b.add(i);
        }
        a.add(b.add(seed));
        try {
            descend(seed);
        } catch (IllegalStateException e) {
            a.add(-1);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        CountDownLatch go = new CountDownLatch(1);
        String[] names = {"twin", "twin", "solo"};
        Workers[] workers = new Workers[names.length];
        for (int i = 0; i < names.length; i++) {
            CountDownLatch started = new CountDownLatch(1);
            workers[i] = new Workers(names[i], i + 1, started, go);
            workers[i].start();
            waitFor(started);
        }
        go.countDown();
        for (Workers worker : workers) {
            worker.join();
        }
        System.out.println("workers done");
    }
}
