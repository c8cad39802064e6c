package itest.reliability;

import java.util.concurrent.CountDownLatch;

// Ways for a VM to end while threads are deep in logged calls.
//   exit:     a worker calls System.exit(5)
//   halt:     a worker calls Runtime.halt(6)
//   daemon:   main returns while daemon threads keep calling
//   uncaught: an exception leaves main while daemon threads keep calling
//   overflow: a thread recurses until StackOverflowError, which unwinds
//             every frame, and carries on
public class Shutdown implements Runnable {
    static final int WORKERS = 4;
    static final CountDownLatch deepEnough = new CountDownLatch(WORKERS);
    static volatile int reached;
    private final String role;

    Shutdown(String role) {
        this.role = role;
    }

    static int tick(int i) {
        return i * 31;
    }

    static void bottom() {
        deepEnough.countDown();
        for (int i = 0; ; i++) {
            tick(i);
        }
    }

    static void deep(int n) {
        if (n == 0) {
            bottom();
        } else {
            deep(n - 1);
        }
    }

    static int down(int n) {
        reached = n;
        return down(n + 1) + 1;
    }

    static void c() {
        throw new IllegalStateException("leaves main");
    }

    static void b() {
        c();
    }

    static void a() {
        b();
    }

    static void awaitDeepWorkers() throws InterruptedException {
        deepEnough.await();
        Thread.sleep(100);
    }

    @Override
    public void run() {
        try {
            switch (role) {
                case "deep":
                    deep(150);
                    break;
                case "exit":
                    awaitDeepWorkers();
                    System.out.println("ending with exit");
                    System.exit(5);
                    break;
                case "halt":
                    awaitDeepWorkers();
                    System.out.println("ending with halt");
                    Runtime.getRuntime().halt(6);
                    break;
                default:
                    try {
                        down(1);
                    } catch (StackOverflowError e) {
                        System.out.println("overflow depth " + reached);
                    }
                    tick(0);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static void startWorkers(boolean daemon) {
        for (int k = 0; k < WORKERS; k++) {
            Thread worker = new Thread(new Shutdown("deep"), "deep-" + k);
            worker.setDaemon(daemon);
            worker.start();
        }
    }

    public static void main(String[] args) throws InterruptedException {
        String mode = args[0];
        if (mode.equals("overflow")) {
            Thread thread = new Thread(null, new Shutdown("overflow"), "overflow", 512 * 1024);
            thread.start();
            thread.join();
            System.out.println("overflow done");
            return;
        }
        startWorkers(!mode.equals("exit") && !mode.equals("halt"));
        if (mode.equals("exit") || mode.equals("halt")) {
            Thread ender = new Thread(new Shutdown(mode), "ender");
            ender.start();
            ender.join();
        }
        awaitDeepWorkers();
        if (mode.equals("uncaught")) {
            a();
        }
        System.out.println("main done");
    }
}
