package golden;

// The program behind the checked-in golden runs (tests/data/golden), started
// by golden.launch.Launch. Every call happens in the same order on every run:
// main waits for the worker, and nothing here makes lambdas or string
// concatenation, whose generated classes carry addresses in their names.
public final class GoldenMain {
    public static void main(String[] args) throws InterruptedException {
        Ledger ledger = new Ledger("main");
        ledger.add(factorial(4));
        ledger.add(Ledger.square(3));
        ledger.tryWithdraw(100);
        Worker worker = new Worker(ledger, new int[] {2, 5});
        worker.start();
        worker.join();
        System.out.println(ledger.balance() == 40 ? "golden done" : "golden wrong");
    }

    static int factorial(int n) {
        return n <= 1 ? 1 : n * factorial(n - 1);
    }
}
