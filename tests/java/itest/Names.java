package itest;

// Threads one after another, with repeated names, a name that a repeated one
// would get, names that cannot be file names and one that a fallback would get.
public class Names implements Runnable {
    private final int id;

    Names(int id) {
        this.id = id;
    }

    public void run() {
        work(id);
    }

    static int work(int x) {
        return x;
    }

    public static void main(String[] args) throws InterruptedException {
        String[] names = {"twin", "twin(2)", "twin", "(1)", "star*", "", "../../x"};
        for (int i = 0; i < names.length; i++) {
            Thread thread = new Thread(new Names(i), names[i]);
            thread.start();
            thread.join();
        }
        System.out.println("names done");
    }
}
