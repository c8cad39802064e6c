package itest;

import java.io.IOException;
import java.io.InputStream;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;

// What a program's own class loader is asked for while a class it defined
// runs, and whether a class of the bytecode engine's can be found by name.
public class HooksLookup {
    public static class Child implements Runnable {
        public void run() {
        }
    }

    static class Own extends ClassLoader {
        final Set<String> asked = ConcurrentHashMap.newKeySet();

        Own() {
            super(HooksLookup.class.getClassLoader());
        }

        @Override
        protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
            asked.add(name);
            if (!name.equals(Child.class.getName())) return super.loadClass(name, resolve);
            try (InputStream in = getParent().getResourceAsStream(name.replace('.', '/') + ".class")) {
                byte[] bytes = in.readAllBytes();
                return defineClass(name, bytes, 0, bytes.length);
            } catch (IOException e) {
                throw new ClassNotFoundException(name, e);
            }
        }
    }

    public static void main(String[] args) throws Exception {
        Own own = new Own();
        Runnable child = (Runnable) own.loadClass(Child.class.getName()).getDeclaredConstructor().newInstance();
        child.run();
        System.out.println("own loader asked for kolvaprof.Hooks: " + own.asked.contains("kolvaprof.Hooks"));
        // The test programs hold a class of that name of their own.
        Class<?> hooks = Class.forName("kolvaprof.Hooks");
        System.out.println("kolvaprof.Hooks from " + (hooks.getClassLoader() == null ? "the boot loader" : "the class path"));
    }
}
