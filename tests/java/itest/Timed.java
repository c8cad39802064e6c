package itest;

import java.lang.reflect.Method;

// Calls of known length on three threads at once: outer sleeps around inner,
// and each thread prints how long its calls took by its own clock, for the
// trace's times to be held against. On a VM with virtual threads the third
// thread is a virtual one, parked while it sleeps. No lambdas: their
// bootstrap (and that of string concatenation) would run thousands of VM
// methods through the agent's events.
public class Timed implements Runnable {
    public void run() {
        work();
    }

    static void inner() throws InterruptedException {
        Thread.sleep(120);
    }

    // Returns the length of its inner call.
    static long outer() throws InterruptedException {
        Thread.sleep(30);
        long start = System.nanoTime();
        inner();
        long innerNanos = System.nanoTime() - start;
        Thread.sleep(30);
        return innerNanos;
    }

    static void work() {
        try {
            long start = System.nanoTime();
            long innerNanos = outer();
            long outerNanos = System.nanoTime() - start;
            StringBuilder line = new StringBuilder("timed ").append(Thread.currentThread().getName());
            System.out.println(line.append(' ').append(outerNanos).append(' ').append(innerNanos));
        } catch (InterruptedException e) {
            throw new IllegalStateException(e);
        }
    }

    static Thread virtualThread(String name, Runnable task) throws Exception {
        Method ofVirtual;
        try {
            ofVirtual = Thread.class.getMethod("ofVirtual");
        } catch (NoSuchMethodException e) {
            return new Thread(task, name);
        }
        Class<?> builder = Class.forName("java.lang.Thread$Builder");
        Object named = builder.getMethod("name", String.class).invoke(ofVirtual.invoke(null), name);
        return (Thread) builder.getMethod("unstarted", Runnable.class).invoke(named, task);
    }

    public static void main(String[] args) throws Exception {
        Thread worker = new Thread(new Timed(), "timed-worker");
        Thread other = virtualThread("timed-virtual", new Timed());
        worker.start();
        other.start();
        work();
        worker.join();
        other.join();
    }
}
