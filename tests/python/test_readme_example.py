"""The README's Python example runs as shown: its output is the one the
README prints, and it writes its plot."""

import os
import pathlib
import re
import subprocess
import sys

SOURCE = pathlib.Path(os.environ.get("TONEPRINT_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
MARKER = "<!-- tests/python/test_readme_example.py runs this example"


def indented_blocks(lines):
    """The README's indented code blocks after the marker, in order."""
    blocks, current = [], None
    for line in lines:
        if line.startswith("    ") or (current is not None and line == ""):
            if current is None:
                current = []
            current.append(line[4:])
        elif current is not None:
            blocks.append("\n".join(current).strip("\n") + "\n")
            current = None
    return blocks


def test_the_readme_example_prints_what_the_readme_shows(tmp_path):
    text = (SOURCE / "README.md").read_text(encoding="utf-8")
    assert MARKER in text, "the README lost its Python example"
    example, shown = indented_blocks(text.split(MARKER, 1)[1].splitlines()[1:])[:2]
    assert re.search(r"analyse_file\(\"demo/demo.wav\"\)", example)

    (tmp_path / "demo").symlink_to(SOURCE / "demo")
    (tmp_path / "build").mkdir()
    (tmp_path / "example.py").write_text(example, encoding="utf-8")
    environment = dict(os.environ, MPLBACKEND="Agg")
    run = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, env=environment,
                         capture_output=True, text=True, timeout=120, check=False)
    assert run.returncode == 0, run.stderr
    assert run.stdout == shown
    assert (tmp_path / "build" / "harmonics.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
