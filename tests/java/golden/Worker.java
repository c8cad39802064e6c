package golden;

// Overriding Thread.run makes run() the thread's first Java frame, so its
// caller location is -1 on every JDK instead of a line inside the JDK's Thread.
final class Worker extends Thread {
    private final Ledger ledger;
    private final int[] amounts;

    Worker(Ledger ledger, int[] amounts) {
        super("worker");
        this.ledger = ledger;
        this.amounts = amounts;
    }

    @Override
    public void run() {
        if (ledger.owner().isEmpty()) return;
        for (int amount : amounts) ledger.add(GoldenMain.factorial(amount) / 10);
        ledger.tryWithdraw(1000);
        ledger.tryWithdraw(ledger.balance() - 40);
    }
}
