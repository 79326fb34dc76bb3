"""Reading what a program's windows show through the accessibility tree
(AT-SPI), the way a screen reader does."""

import functools

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


# Roles are compared by value: their display names change between at-spi2
# releases ("push button" became "button" in 2.56).
Role = Atspi.Role


class Node:
    """One control: its role, name, description and whether it is on screen,
    each read from the program when first asked (a call over the bus each:
    a walk past a control reads only what it compares). What is gone by then
    reads as empty."""

    def __init__(self, accessible):
        self._accessible = accessible

    def _read(self, getter, empty):
        try:
            return getter() or empty
        except GLib.Error:
            return empty

    @functools.cached_property
    def role(self):
        return self._read(self._accessible.get_role, Role.INVALID)

    @functools.cached_property
    def name(self):
        return self._read(self._accessible.get_name, "")

    @functools.cached_property
    def description(self):
        return self._read(self._accessible.get_description, "")

    @functools.cached_property
    def showing(self):
        return self._read(
            lambda: self._accessible.get_state_set().contains(Atspi.StateType.SHOWING), False
        )

    def children(self):
        # A window closing while it is read loses its controls one by one:
        # what is gone is simply not there.
        nodes = []
        try:
            count = self._accessible.get_child_count()
        except GLib.Error:
            return nodes
        for i in range(count):
            try:
                child = self._accessible.get_child_at_index(i)
                if child is not None:
                    nodes.append(Node(child))
            except GLib.Error:
                pass
        return nodes

    def walk(self):
        yield self
        for child in self.children():
            yield from child.walk()

    def find(self, role=None, name=None):
        for node in self.walk():
            if (name is None or node.name == name) and (role is None or node.role == role):
                return node
        return None

    def texts(self):
        """Every name shown inside, in tree order."""
        return [node.name for node in self.walk() if node.name and node.showing]

    def __repr__(self):
        return f"<{self.role.value_nick} {self.name!r}>"


class AccessibleProgram:
    def __init__(self, pid):
        self.pid = pid

    def _application(self):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            application = desktop.get_child_at_index(i)
            if application is not None and application.get_process_id() == self.pid:
                # Read afresh every time: a cached name can lag behind the screen.
                application.clear_cache()
                return application
        return None

    def windows(self):
        """The program's top-level windows on screen; empty while it is not
        (yet, or any more) on the accessibility bus."""
        try:
            application = self._application()
            if application is None:
                return []
            return [node for node in Node(application).children() if node.showing]
        except GLib.Error:
            return []

    def window(self, name, role=None):
        for node in self.windows():
            if node.name == name and (role is None or node.role == role):
                return node
        return None
