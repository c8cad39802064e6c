package itest.untraced;

import itest.Supers;

// Left out by the filter, between two traced classes of one object.
public class Middle extends Supers.Top {
    public Middle() {
        super();
    }
}
