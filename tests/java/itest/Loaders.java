package itest;

import java.io.IOException;
import java.io.InputStream;

// Twin, once as the application's class loader loads it and once more from
// the same bytes by a loader of its own: two classes of one name, each with a
// lambda of its own (a hidden class, which the VM names anew in every run).
public class Loaders {
    public static class Twin implements Runnable {
        public void run() {
            Runnable hello = () -> hello();
            hello.run();
        }

        static void hello() {
        }
    }

    static class Own extends ClassLoader {
        Own() {
            super(Loaders.class.getClassLoader());
        }

        @Override
        protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
            if (!name.equals(Twin.class.getName())) return super.loadClass(name, resolve);
            try (InputStream in = getParent().getResourceAsStream(name.replace('.', '/') + ".class")) {
                byte[] bytes = in.readAllBytes();
                return defineClass(name, bytes, 0, bytes.length);
            } catch (IOException e) {
                throw new ClassNotFoundException(name, e);
            }
        }
    }

    public static void main(String[] args) throws Exception {
        Runnable first = new Twin();
        Class<?> other = new Own().loadClass(Twin.class.getName());
        Runnable second = (Runnable) other.getDeclaredConstructor().newInstance();
        first.run();
        second.run();
        System.out.println(other != Twin.class ? "two classes" : "one class");
    }
}
