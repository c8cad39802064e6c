package itest.reliability;

// Threads that call methods until the process is killed. Each reports now and
// then how many calls it has made, so that what a kill leaves on disk can be
// set against what was done.
//   args: threads
public class Busy extends Thread {
    static volatile boolean reporting = true;
    volatile long calls;

    Busy(String name) {
        super(name);
    }

    static int leaf(int x) {
        return x * 7;
    }

    static int nest(int depth) {
        return depth == 0 ? leaf(depth) : 1 + nest(depth - 1);
    }

    @Override
    public void run() {
        long made = 0;
        for (int i = 0; ; i++) {
            made += (i & 7) + 2;
            nest(i & 7);
            calls = made;
        }
    }

    public static void main(String[] args) throws InterruptedException {
        Busy[] threads = new Busy[Integer.parseInt(args[0])];
        for (int t = 0; t < threads.length; t++) {
            threads[t] = new Busy("busy-" + t);
            threads[t].start();
        }
        System.out.println("busy started");
        while (reporting) {
            Thread.sleep(100);
            long total = 0;
            for (Busy thread : threads) {
                total += thread.calls;
            }
            // No string concatenation: its first use runs thousands of JDK
            // calls, each slow while the workers hog the processors.
            System.out.print("calls made ");
            System.out.println(total);
        }
    }
}
