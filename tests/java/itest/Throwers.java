package itest;

// Two threads throw at the same time, each an exception of its own kind
// through two frames, many times over.
public class Throwers {
    static void inner(boolean illegal) {
        if (illegal) throw new IllegalStateException();
        Integer.parseInt("x");
    }

    static void outer(boolean illegal) {
        inner(illegal);
    }

    static void repeat(boolean illegal) {
        for (int i = 0; i < 20000; i++) {
            try {
                outer(illegal);
            } catch (RuntimeException e) {
                // thrown to unwind outer and inner
            }
        }
    }

    public static void main(String[] args) throws InterruptedException {
        Thread other = new Thread(() -> repeat(false), "thrower");
        other.start();
        repeat(true);
        other.join();
        System.out.println("throwers done");
    }
}
