"""The include check of the source folders, on small trees of its own."""
import subprocess
import sys
from pathlib import Path

import pytest

TOOL = Path(__file__).resolve().parents[2] / "tools" / "check_layers.py"

# (files of the tree, what the check must say; None: the tree is clean)
CASES = [
    ({"src/config/c.cpp": '#include "base/a.h"\n#include "config/d.h"\n'}, None),
    ({"src/base/x.h": '#include "platform/b.h"\n'}, 'src/base/x.h:1: "platform/b.h": platform is above base'),
    ({"src/core/x.cpp": '\n#include "check/y.h"\n'}, 'src/core/x.cpp:2: "check/y.h": check is above core'),
    ({"src/ui/x.cpp": '#include "wstr.h"\n'}, '"wstr.h" does not name its folder'),
    ({"src/ui/x.cpp": '#include "base/gone.h"\n'}, '"base/gone.h" does not exist'),
    ({"src/extra/x.h": ""}, "folder 'extra' is not in the stack"),
    ({"tests/unit/a_test.cpp": ""}, "belongs in the folder of the code it tests"),
    ({"tests/unit/other/a_test.cpp": ""}, "'other' is not a folder of src/"),
]


@pytest.mark.parametrize("files,expected", CASES)
def test_layer_check(tmp_path, files, expected):
    for name in ["src/base/a.h", "src/platform/b.h", "src/config/d.h", "src/check/y.h"]:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text("")
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    result = subprocess.run([sys.executable, str(TOOL), str(tmp_path)], capture_output=True, text=True)
    if expected is None:
        assert result.returncode == 0, result.stdout
    else:
        assert result.returncode == 1
        assert expected in result.stdout, result.stdout
