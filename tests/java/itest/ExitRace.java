package itest;

// Workers keep calling methods, and throwing, while main ends the VM.
public class ExitRace implements Runnable {
    public void run() {
        long sum = 0;
        for (int i = 0; ; i++) {
            sum += step(i);
            if (i % 64 == 0) {
                pause();
            }
        }
    }

    static int step(int i) {
        if ((i & 7) == 7) {
            try {
                fail(i);
            } catch (IllegalArgumentException e) {
                return -1;
            }
        }
        return depth(i & 3);
    }

    static int depth(int n) {
        return n == 0 ? 0 : 1 + depth(n - 1);
    }

    static void fail(int i) {
        throw new IllegalArgumentException();
    }

    static void pause() {
        try {
            Thread.sleep(1);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void main(String[] args) throws InterruptedException {
        String[] names = {"racer-0", "racer-1", "racer-2"};
        for (String name : names) {
            new Thread(new ExitRace(), name).start();
        }
        Thread.sleep(300);
        System.out.println("exiting with 3");
        System.exit(3);
    }
}
