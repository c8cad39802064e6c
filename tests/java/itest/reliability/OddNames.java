package itest.reliability;

// Threads, one after another, named by the arguments. "repeat:N:H" stands for
// N times the character with hexadecimal code H, so that long and non-ASCII
// names do not depend on how the command line is decoded.
public class OddNames implements Runnable {
    @Override
    public void run() {
    }

    static String decode(String arg) {
        if (!arg.startsWith("repeat:")) {
            return arg;
        }
        String[] parts = arg.split(":");
        int count = Integer.parseInt(parts[1]);
        char c = (char) Integer.parseInt(parts[2], 16);
        StringBuilder name = new StringBuilder();
        for (int i = 0; i < count; i++) {
            name.append(c);
        }
        return name.toString();
    }

    public static void main(String[] args) throws InterruptedException {
        for (String arg : args) {
            Thread thread = new Thread(new OddNames(), decode(arg));
            thread.start();
            thread.join();
        }
        System.out.println("odd names done");
    }
}
