package itest;

// main starts one worker and waits for it, so the order of all calls is fixed.
public class TwoThreads implements Runnable {
    public void run() {
        work(2);
    }

    static int work(int n) {
        return n * 2;
    }

    public static void main(String[] args) throws InterruptedException {
        work(1);
        Thread worker = new Thread(new TwoThreads(), "itest-worker");
        worker.start();
        worker.join();
        work(3);
        System.out.println("two threads done");
    }
}
