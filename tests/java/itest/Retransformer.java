package itest;

import java.lang.instrument.Instrumentation;

// Run with itself as a Java agent: classes that got receiver-number fields as
// they loaded are retransformed by that other agent while objects of them
// live on, and those objects keep their numbers afterwards.
public class Retransformer {
    static Instrumentation instrumentation;

    public static void premain(String options, Instrumentation given) {
        instrumentation = given;
    }

    public static void main(String[] args) throws Exception {
        Receivers.Dog before = new Receivers.Dog();
        int walked = before.walk();
        instrumentation.retransformClasses(Receivers.Dog.class, Receivers.Animal.class);
        Receivers.Dog after = new Receivers.Dog();
        Receivers.show("retransformed", walked, before.walk(), after.walk(), before.legs());
    }
}
