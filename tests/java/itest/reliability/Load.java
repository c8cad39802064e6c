package itest.reliability;

// Many threads calling at once. Every worker counts the calls it makes, so a
// trace can be held against what the program really did: a lost, doubled or
// torn record shows up as a count that differs.
//   args: threads, iterations per thread
public class Load extends Thread {
    private final int iterations;
    private int state;
    long leafCalls;
    long nestCalls;
    long failCalls;
    long touchCalls;

    Load(String name, int iterations) {
        super(name);
        this.iterations = iterations;
    }

    static int leaf(int x) {
        return x ^ (x >>> 3);
    }

    static int nest(int depth) {
        return depth == 0 ? 1 : 1 + nest(depth - 1);
    }

    // Thrown again and again: a new exception would run many JDK methods.
    private static final IllegalStateException FAILURE = new IllegalStateException("load");

    static int fail(int i) {
        throw FAILURE;
    }

    void touch(int i) {
        state += i;
    }

    @Override
    public void run() {
        int sum = 0;
        for (int i = 0; i < iterations; i++) {
            sum += leaf(i);
            leafCalls++;
            if ((i & 15) == 0) {
                sum += nest(3);
                nestCalls += 4;
            }
            if ((i & 63) == 0) {
                failCalls++;
                try {
                    sum += fail(i);
                } catch (IllegalStateException e) {
                    sum--;
                }
            }
            if ((i & 511) == 0) {
                touch(sum);
                touchCalls++;
            }
        }
        state += sum;
    }

    public static void main(String[] args) throws InterruptedException {
        int threads = Integer.parseInt(args[0]);
        int iterations = Integer.parseInt(args[1]);
        Load[] workers = new Load[threads];
        for (int t = 0; t < threads; t++) {
            workers[t] = new Load("load-" + t, iterations);
        }
        for (Load worker : workers) {
            worker.start();
        }
        long leaf = 0;
        long nest = 0;
        long fail = 0;
        long touch = 0;
        for (Load worker : workers) {
            worker.join();
            leaf += worker.leafCalls;
            nest += worker.nestCalls;
            fail += worker.failCalls;
            touch += worker.touchCalls;
        }
        // Calls of every logged method, main's own included.
        System.out.println("calls <clinit> 1");
        System.out.println("calls main 1");
        System.out.println("calls <init> " + threads);
        System.out.println("calls run " + threads);
        System.out.println("calls leaf " + leaf);
        System.out.println("calls nest " + nest);
        System.out.println("calls fail " + fail);
        System.out.println("calls touch " + touch);
    }
}
