"""Configuration loading seen from whole silent runs: which prerequisites a
run evaluates, in which order, and where the list ends."""
import pytest

from silent_support import TESTS_KEY, installed_search, log_lines, section
import harness


@pytest.fixture
def key(prefix, request):
    """A registry key of this test under HKCU with the value Installed set."""
    name = "config_" + request.node.name.replace("[", "_").replace("]", "")
    prefix.reg_delete(f"{TESTS_KEY}\\{name}")
    prefix.reg_add(f"{TESTS_KEY}\\{name}", "Installed", "1")
    yield name
    prefix.reg_delete(f"{TESTS_KEY}\\{name}")
    prefix.reg_delete("HKCU\\InterbootContext")


def present(key, **extra):
    """A prerequisite that its search finds, so the run installs nothing."""
    app = {"SetupFile": "missing\\setup.exe"}
    app.update(installed_search(key))
    app.update(extra)
    return app


# (apps in PREREQUISITES as number -> name, sections as number -> keys, names searched)
CASES = {
    "all_loaded": ({1: "First", 2: "Second", 3: "Third"}, {1: {}, 2: {}, 3: {}}, ["First", "Second", "Third"]),
    "gap_in_numbers": ({1: "First", 3: "Third"}, {1: {}, 3: {}}, ["First"]),
    "section_missing": ({1: "First", 2: "Second", 3: "Third"}, {1: {}, 3: {}}, ["First"]),
    "search_string_missing": ({1: "First", 2: "Second", 3: "Third"},
                              {1: {}, 2: {"SearchType2": "7"}, 3: {}}, ["First"]),
    "no_location": ({1: "First", 2: "Second"}, {1: {"SetupFile": None}, 2: {}}, []),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_prerequisites_loaded_until_the_first_incomplete_one(prefix, package, workdir, key, case):
    names, sections, searched = CASES[case]
    log = workdir / "run.log"
    text = section("GeneralOptions", Options="q", KeepFiles="complete", ExtractionFolder=harness.win_path(workdir))
    text += section("PREREQUISITES", **{f"App{n}": name for n, name in names.items()})
    for n, keys in sections.items():
        app = present(key)
        for k, v in keys.items():
            if v is None:
                app.pop(k, None)
            else:
                app[k] = v
        text += section(f"App{n}", **app)
    text += section("PREREQ_CHAINER", LogFile=harness.win_path(log))
    # A list that ends early is what the checker reports.
    package.write_ini(text, faults=("list-end",) if searched != list(names.values()) else ())
    result = prefix.run(package.exe, timeout=120)
    assert result.code == 0
    lines = log_lines(log)
    assert [line[len("Searching for:"):] for line in lines if line.startswith("Searching for:")] == searched
