"""Where a search's report goes: through sys.stdout's write(), on the calling
thread, when that is not the process's standard output (a notebook,
redirect_stdout); nowhere when it is None; on a pipe, between the prints
around the search."""

import contextlib
import io
import os
import re
import subprocess
import sys
import threading

import kiv_sr

SEARCH = "kiv_sr.Searcher(max_complexity=3, beam_width=20).find_function([1.0, 2.0, 3.0, 4.0], [1.5, 2.9, 4.2, 7.7])"
# The report without its progress lines, each level's duration as T.
REPORT = ["[KIV-SR] Started search space exploration. Level 1 seeded with 2 primary nodes.", "",
          "[KIV-SR]   -> Level 2 processed in T. Retaining top 20 candidates.", "",
          "[KIV-SR]   -> Level 3 processed in T. Retaining top 20 candidates."]


class Recorder(io.StringIO):
    def write(self, text):
        self.writers.append(threading.get_ident())
        return super().write(text)


def check_report(text):
    percentages = {}
    for level, percentage in re.findall(r"\r  \[KIV\] L(\d+) Progress: \[[█░]{10}\] (\d+)% ", text):
        percentages.setdefault(level, []).append(int(percentage))
    assert sorted(percentages) == ["2", "3"]
    assert all(values == sorted(set(values)) and values[-1] == 100 for values in percentages.values())
    text = re.sub(r"\r  \[KIV\] [^\r\n]*", "", text)
    assert re.sub(r"processed in [0-9.]+(s|ms|µs|ns)", "processed in T", text).splitlines() == REPORT


def test_a_redirected_report_is_written_by_the_calling_thread(capfd):
    recorder, recorder.writers = Recorder(), []
    with contextlib.redirect_stdout(recorder):
        result = eval(SEARCH)
    with contextlib.redirect_stdout(None):
        assert repr(eval(SEARCH)) == repr(result)
    assert capfd.readouterr().out == ""
    assert set(recorder.writers) == {threading.get_ident()} and len(recorder.writers) > 1  # also while searching
    check_report(recorder.getvalue())


def test_a_pipe_keeps_the_report_between_the_prints_around_it():
    code = f"import kiv_sr; print('before'); {SEARCH}; print('after')"
    buffered = {name: value for name, value in os.environ.items() if name != "PYTHONUNBUFFERED"}  # as by default
    text = subprocess.run([sys.executable, "-c", code], capture_output=True, check=True, timeout=120,
                          env=buffered).stdout.decode()
    assert text.startswith("before\n[KIV-SR] Started") and text.endswith("candidates.\nafter\n")
    check_report(text[len("before\n"):-len("after\n")])
