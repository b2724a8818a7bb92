"""The module object: its namespace, its functions' metadata, and the initialisation export."""

import ctypes
import inspect
import shutil
import subprocess
import sys
import types

import pytest
import qarvo

# The first five, in this order, are the module's original namespace; the searches beyond
# the first occurrence follow them.
EXPORTED = [
    "search_one",
    "search_two",
    "search_three",
    "search_n",
    "__version__",
    "find",
    "rfind",
    "count",
    "finditer",
    "find_all",
    "Finder",
    "find_any",
    "rfind_any",
    "find_not_any",
    "rfind_not_any",
    "MultiFinder",
]
FUNCTIONS = EXPORTED[:4]
SEARCHES = {
    "find": "(haystack, needle, start=None, end=None, *, ignore_case=False)",
    "rfind": "(haystack, needle, start=None, end=None, *, ignore_case=False)",
    "count": "(haystack, needle, start=None, end=None, *, overlapping=False, ignore_case=False)",
    "finditer": (
        "(haystack, needle, start=None, end=None, *, overlapping=False, ignore_case=False)"
    ),
    "find_all": (
        "(haystack, needle, start=None, end=None, *, overlapping=False, ignore_case=False)"
    ),
    "find_any": "(haystack, byteset, start=None, end=None)",
    "rfind_any": "(haystack, byteset, start=None, end=None)",
    "find_not_any": "(haystack, byteset, start=None, end=None)",
    "rfind_not_any": "(haystack, byteset, start=None, end=None)",
}
SENTENCES = {
    "search_one": (
        "Search for the first occurrence of a single byte `needle` (0-255) in `haystack`."
    ),
    "search_two": "Search for the first occurrence of a two-byte `needle` in `haystack`.",
    "search_three": "Search for the first occurrence of a three-byte `needle` in `haystack`.",
    "search_n": (
        "Search for the first occurrence of an arbitrary byte sequence `needle` in `haystack`."
    ),
}
# What the interpreter and the import system put on every extension module.
STANDARD_DUNDERS = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def is_dunder(name):
    return name.startswith("__") and name.endswith("__")


def test_all_lists_the_functions_then_the_version():
    assert type(qarvo.__all__) is list
    assert qarvo.__all__ == EXPORTED


def test_version_and_module_doc_are_plain_strings():
    assert type(qarvo.__version__) is str
    assert qarvo.__version__ == "1.0.1"
    assert type(qarvo.__doc__) is str
    assert qarvo.__doc__ == ""
    assert qarvo.__name__ == "qarvo"


def test_namespace_holds_exactly_the_members_in_insertion_order():
    names = list(vars(qarvo))
    # __all__ is created by the first addition, then each member follows in turn.
    start = names.index("__all__")
    assert names[start : start + len(EXPORTED) + 1] == ["__all__", *EXPORTED]
    assert [name for name in names if not is_dunder(name)] == [
        name for name in EXPORTED if not is_dunder(name)
    ]
    assert set(names) - set(EXPORTED) - {"__all__"} <= STANDARD_DUNDERS


def test_panic_exception_type_is_not_in_the_namespace():
    assert "PanicException" not in vars(qarvo)
    exception_types = [
        value
        for value in vars(qarvo).values()
        if isinstance(value, type) and issubclass(value, BaseException)
    ]
    assert exception_types == []


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_metadata(name):
    function = getattr(qarvo, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == "qarvo"
    assert function.__self__ is qarvo
    assert function.__doc__ == SENTENCES[name]
    assert function.__text_signature__ == "(haystack, needle)"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_signature_takes_two_positional_or_keyword_parameters(name):
    signature = inspect.signature(getattr(qarvo, name))
    assert str(signature) == "(haystack, needle)"
    assert [(p.name, p.kind, p.default) for p in signature.parameters.values()] == [
        ("haystack", inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty),
        ("needle", inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty),
    ]


@pytest.mark.parametrize("name", SEARCHES)
def test_search_function_metadata(name):
    function = getattr(qarvo, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__qualname__ == name
    assert function.__module__ == "qarvo"
    assert str(inspect.signature(function)) == SEARCHES[name]
    assert function.__doc__.startswith("Return ")


def test_finder_type_metadata():
    assert qarvo.Finder.__module__ == "qarvo"
    assert qarvo.Finder.__qualname__ == "Finder"
    for name in ("find", "rfind", "count", "finditer", "find_all"):
        method = getattr(qarvo.Finder, name)
        # The methods ignore case as their Finder does: no flag of their own.
        want = (
            SEARCHES[name]
            .replace("(haystack, needle,", "(self, /, haystack,")
            .replace(", *, ignore_case=False)", ")")
            .replace(", ignore_case=False)", ")")
        )
        assert str(inspect.signature(method)) == want


def test_multi_finder_type_metadata():
    assert qarvo.MultiFinder.__module__ == "qarvo"
    assert qarvo.MultiFinder.__qualname__ == "MultiFinder"
    assert qarvo.MultiFinder.__doc__.startswith("A set of needles prepared once")
    for name in ("find", "count", "finditer", "find_all"):
        method = getattr(qarvo.MultiFinder, name)
        assert str(inspect.signature(method)) == "(self, /, haystack, start=None, end=None)"
        assert method.__doc__.startswith("Return ")


def test_reimport_returns_the_same_module_with_changes_kept():
    saved_version = qarvo.__version__
    saved_search_two = qarvo.search_two
    try:
        qarvo.__version__ = "changed"
        del qarvo.search_two
        del sys.modules["qarvo"]
        import qarvo as again

        assert again is qarvo
        assert sys.modules["qarvo"] is qarvo
        assert again.__version__ == "changed"
        assert not hasattr(again, "search_two")
        # Not rebuilt: a second population would have appended to __all__ again.
        assert again.__all__ == EXPORTED
    finally:
        qarvo.__version__ = saved_version
        qarvo.search_two = saved_search_two
        sys.modules["qarvo"] = qarvo


def test_ctypes_takes_over_the_returned_reference():
    # Calibrates the measurement below with an API call known to return a new reference.
    probe = object()
    new_ref = ctypes.pythonapi.Py_NewRef
    new_ref.argtypes = [ctypes.py_object]
    new_ref.restype = ctypes.py_object
    before = sys.getrefcount(probe)
    kept = new_ref(probe)
    assert kept is probe
    assert sys.getrefcount(probe) - before == 1


def test_export_returns_the_same_module_with_one_new_reference_per_call():
    init = ctypes.PyDLL(qarvo.__file__).PyInit_qarvo
    init.argtypes = []
    init.restype = ctypes.py_object
    before = sys.getrefcount(qarvo)
    first = init()
    after_first = sys.getrefcount(qarvo)
    second = init()
    after_second = sys.getrefcount(qarvo)
    assert first is qarvo
    assert second is qarvo
    assert (after_first - before, after_second - after_first) == (1, 1)
    del first, second
    assert sys.getrefcount(qarvo) == before
    assert qarvo.__all__ == EXPORTED


def test_init_is_the_only_exported_symbol():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", qarvo.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit_qarvo"]


# The module-building steps, run through the test hooks on modules of our own.


class LookupFails(types.ModuleType):
    """A module whose __all__ lookup raises a given error."""

    def __init__(self, name, error):
        super().__init__(name)
        self.lookup_error = error

    def __getattribute__(self, name):
        if name == "__all__":
            raise super().__getattribute__("lookup_error")
        return super().__getattribute__(name)


class RefusesMember(types.ModuleType):
    def __setattr__(self, name, value):
        if name == "refused":
            raise PermissionError("read-only member")
        super().__setattr__(name, value)


def test_add_member_creates_all_then_appends(hooks):
    module = types.ModuleType("m")
    hooks.add_member(module, "first", 1)
    hooks.add_member(module, "second", "two")
    assert module.__all__ == ["first", "second"]
    assert (module.first, module.second) == (1, "two")
    names = list(vars(module))
    assert names[names.index("__all__") :] == ["__all__", "first", "second"]


def test_add_member_appends_to_an_existing_list_subclass(hooks):
    class Names(list):
        pass

    module = types.ModuleType("m")
    module.__all__ = existing = Names(["old"])
    hooks.add_member(module, "new", 1)
    assert module.__all__ is existing
    assert existing == ["old", "new"]
    assert module.new == 1


@pytest.mark.parametrize(
    ("value", "type_name"), [(("old",), "tuple"), ("old", "str"), (None, "NoneType")]
)
def test_add_member_refuses_an_all_that_is_not_a_list(hooks, value, type_name):
    module = types.ModuleType("m")
    module.__all__ = value
    with pytest.raises(TypeError) as info:
        hooks.add_member(module, "new", 1)
    assert type(info.value) is TypeError
    assert str(info.value) == f"'{type_name}' object cannot be converted to 'PyList'"
    assert module.__all__ is value
    assert not hasattr(module, "new")


def test_add_member_creates_all_when_its_lookup_raises_an_attribute_error_subclass(hooks):
    class Missing(AttributeError):
        pass

    module = LookupFails("m", Missing("no __all__ here"))
    hooks.add_member(module, "new", 1)
    assert vars(module)["__all__"] == ["new"]
    assert vars(module)["new"] == 1


def test_add_member_passes_on_any_other_lookup_error(hooks):
    error = RuntimeError("lookup broke")
    module = LookupFails("m", error)
    with pytest.raises(RuntimeError) as info:
        hooks.add_member(module, "new", 1)
    assert info.value is error
    assert "__all__" not in vars(module)
    assert "new" not in vars(module)


def test_add_member_keeps_the_name_listed_when_setting_the_attribute_fails(hooks):
    module = RefusesMember("m")
    with pytest.raises(PermissionError, match="^read-only member$"):
        hooks.add_member(module, "refused", 1)
    assert module.__all__ == ["refused"]
    assert "refused" not in vars(module)


def test_populate_module_fills_any_module_bound_to_that_module(hooks):
    module = types.ModuleType("elsewhere")
    hooks.populate_module(module)
    assert module.__all__ == EXPORTED
    assert module.__version__ == "1.0.1"
    for name in FUNCTIONS:
        function = getattr(module, name)
        assert function is not getattr(qarvo, name)
        assert function.__module__ == "elsewhere"
        assert function.__self__ is module
        assert function.__doc__ == SENTENCES[name]
    assert module.search_two(b"abcabd", b"bd") == 4


def test_populate_module_stops_at_the_first_failure(hooks):
    module = types.ModuleType("m")
    module.__all__ = ()
    with pytest.raises(TypeError, match="^'tuple' object cannot be converted to 'PyList'$"):
        hooks.populate_module(module)
    assert [name for name in vars(module) if not is_dunder(name)] == []


def test_populate_module_fails_with_the_interpreters_error_for_a_nameless_module(hooks):
    module = types.ModuleType("m")
    del module.__name__
    with pytest.raises(SystemError):
        hooks.populate_module(module)
    assert "__all__" not in vars(module)
