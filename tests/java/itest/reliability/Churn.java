package itest.reliability;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;

// Thousands of short-lived threads. First some probes, one at a time: once a
// probe has been joined, its log must already be complete on disk, and the
// program reports how many whole lines it found there. Then waves of threads
// running together, a third of them under one shared name and a third under
// a name that cannot be a file name.
//   args: log directory, probes, churn threads, threads per wave
public class Churn extends Thread {
    private final int id;

    Churn(String name, int id) {
        super(name);
        this.id = id;
    }

    static int leaf(int x) {
        return x + 1;
    }

    static int work(int id) {
        int sum = 0;
        for (int i = 0; i < id % 4; i++) {
            sum += leaf(i);
        }
        return sum;
    }

    @Override
    public void run() {
        work(id);
    }

    static String churnName(int i) {
        switch (i % 3) {
            case 0:
                return "same";
            case 1:
                return "w-" + i;
            default:
                return "bad?" + i;
        }
    }

    static String completeLines(File file) throws IOException {
        String text = new String(Files.readAllBytes(file.toPath()), "UTF-8");
        int lines = 0;
        for (int i = 0; i < text.length(); i++) {
            if (text.charAt(i) == '\n') {
                lines++;
            }
        }
        return lines + (text.endsWith("}\n") ? " closed" : " open");
    }

    public static void main(String[] args) throws Exception {
        File[] runs = new File(args[0]).listFiles();
        int probes = Integer.parseInt(args[1]);
        int churn = Integer.parseInt(args[2]);
        int wave = Integer.parseInt(args[3]);
        long leafCalls = 0;
        int id = 0;
        for (int k = 0; k < probes; k++, id++) {
            Churn probe = new Churn("probe-" + k, id);
            probe.start();
            probe.join();
            leafCalls += id % 4;
            System.out.println("probe " + k + " " + completeLines(new File(runs[0], "probe-" + k + ".log")));
        }
        for (int first = 0; first < churn; first += wave) {
            Churn[] threads = new Churn[Math.min(wave, churn - first)];
            for (int i = 0; i < threads.length; i++, id++) {
                threads[i] = new Churn(churnName(first + i), id);
                leafCalls += id % 4;
                threads[i].start();
            }
            for (Churn thread : threads) {
                thread.join();
            }
        }
        System.out.println("calls main 1");
        System.out.println("calls <init> " + id);
        System.out.println("calls run " + id);
        System.out.println("calls work " + id);
        System.out.println("calls leaf " + leafCalls);
        System.out.println("calls churnName " + churn);
        System.out.println("calls completeLines " + probes);
    }
}
