package golden.launch;

import golden.GoldenMain;

// Starts golden.GoldenMain once the JDK's cleaner thread is idle. That thread,
// started during start-up, takes its thread number (and, in binary runs with
// thread numbers, its Index.dat line) when it first runs a method of a class
// loaded after start-up, racing with main. Once it waits for work it has both,
// so every logged call comes after it on every run, even on a busy machine.
// This package is outside the golden runs' filters: nothing here is logged.
public final class Launch {
    public static void main(String[] args) throws InterruptedException {
        long deadline = System.nanoTime() + 10_000_000_000L;
        while (cleanerRunning() && System.nanoTime() < deadline) Thread.sleep(1);
        GoldenMain.main(args);
    }

    private static boolean cleanerRunning() {
        for (Thread thread : Thread.getAllStackTraces().keySet()) {
            Thread.State state = thread.getState();
            if (thread.getName().equals("Common-Cleaner")
                    && (state == Thread.State.NEW || state == Thread.State.RUNNABLE)) {
                return true;
            }
        }
        return false;
    }
}
