package itest;

// Methods whose whole call may be reported at their return (no call, loop
// or exception in them), beside look-alikes that are not such methods, as
// a thread's first call, as a start method and synchronized.
public class Leaves {
    private int count;
    private long total;
    private Leaves other;

    int count() { return count; }

    void add(long n) {
        total = total + n;
        count++;
    }

    synchronized int locked() { return count * 2; }

    static int twice(int n) { return n + n; }

    // Another object's field, a division that may throw, and a loop.
    int otherCount() { return other.count; }

    int ratio(int n) { return count / n; }

    int sum(int n) {
        int s = 0;
        for (int i = 0; i < n; i++) s += twice(i);
        return s;
    }

    // Called by the JDK's Thread.run: the first call its thread makes.
    static class Noop implements Runnable {
        public void run() { }
    }

    public static void main(String[] args) throws Exception {
        Leaves a = new Leaves();
        a.other = new Leaves();
        for (int i = 0; i < 3; i++) {
            a.add(i);
            a.count();
            twice(i);
        }
        a.locked();
        a.otherCount();
        a.sum(3);
        try {
            a.ratio(0);
        } catch (ArithmeticException e) {
            a.add(1);
        }
        Thread t = new Thread(new Noop(), "noop");
        t.start();
        t.join();
        System.out.println(a.count() == 4 && a.other.count() == 0 ? "leaves ok" : "leaves wrong");
    }
}
