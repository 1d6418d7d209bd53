"""Sphinx configuration: the site is built by scripts/docs.sh (HTML, then every example run by
the doctest builder), both with warnings as errors."""

import os
import sys
from pathlib import Path

import trussel

DOCS = Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(DOCS / "_ext"))

project = "trussel"
author = "the trussel developers"
copyright = "the trussel developers"  # noqa: A001 - Sphinx's name
release = getattr(trussel, "__version__", "")

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "sphinx.ext.mathjax",
    "matplotlib.sphinxext.plot_directive",
    "trussel_docs",
]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["_build", "README.md"]
myst_enable_extensions = ["dollarmath", "colon_fence", "deflist"]
myst_heading_anchors = 3

html_theme = "furo"
html_title = "trussel"
html_static_path: list[str] = []

# The reference of the extension module comes from its type stub and docstrings.
trussel_stub = str(ROOT / "stubs" / "trussel-stubs" / "__init__.pyi")
# Examples (doctests, plots, shell commands) run in one scratch directory, never in the checkout.
trussel_workdir = os.environ.get("TRUSSEL_DOCS_WORKDIR", str(DOCS / "_build" / "work"))
trussel_bindir = str(Path(sys.executable).parent)  # trussel-dataset of the docs' environment
Path(trussel_workdir).mkdir(parents=True, exist_ok=True)

autodoc_member_order = "bysource"
autodoc_typehints = "signature"

# Every example is run by `sphinx-build -b doctest`: {doctest} blocks with their shown output,
# {testcode} blocks with their {testoutput}. Doctest blocks in the package's docstrings are not
# examples of this site.
doctest_test_doctest_blocks = ""
doctest_global_setup = f"""
import os
os.chdir({trussel_workdir!r})
import numpy as np
import trussel
import trussel_dataset
np.set_printoptions(legacy=False)
"""
trim_doctest_flags = True

# Pictures are drawn at build time from the code shown beside them.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 96)]
plot_working_directory = trussel_workdir
plot_rcparams = {"figure.figsize": (5.5, 4.5), "savefig.bbox": "tight"}
