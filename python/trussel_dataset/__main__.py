"""python -m trussel_dataset: the trussel-dataset command."""

import sys

from .cli import main

sys.exit(main())
