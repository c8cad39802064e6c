package golden;

class Ledger {
    // Thrown two frames below the catch, so both frames exit by the exception.
    static final class Shortfall extends RuntimeException {
        final int missing;

        Shortfall(int missing) {
            super(null, null, false, false);
            this.missing = missing;
        }
    }

    private final String owner;
    private int balance;

    Ledger(String owner) {
        this.owner = owner;
    }

    void add(int amount) {
        balance += amount;
    }

    static int square(int n) {
        return n * n;
    }

    boolean tryWithdraw(int amount) {
        try {
            withdraw(amount);
            return true;
        } catch (Shortfall e) {
            return false;
        }
    }

    private void withdraw(int amount) {
        check(amount);
        balance -= amount;
    }

    private void check(int amount) {
        if (amount > balance) throw new Shortfall(amount - balance);
    }

    int balance() {
        return balance;
    }

    String owner() {
        return owner;
    }
}
