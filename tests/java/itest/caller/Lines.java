package itest.caller;

// Calls made at known lines and bytecode indexes: the caller-location tests
// expect these line numbers and the bytecode javac makes for these methods.
public class Lines {
    static int helper(int x) {
        return x + 1;
    }

    static void first() {
    }

    static void callAtZero() {
        first();
    }

    static void callMidLine() {
        int x = 1; helper(x);
    }

    static void callAtLineStart() {
        int y = 2;
        first();
    }

    static class Worker extends Thread {
        Worker() {
            super("caller-worker");
        }

        @Override
        public void run() {
            helper(7);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        callAtZero();
        callMidLine();
        callAtLineStart();
        Worker worker = new Worker();
        worker.start();
        worker.join();
    }
}
