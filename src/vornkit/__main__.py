"""``python -m vornkit``: the same command line as the ``vornkit`` script."""

import sys

from vornkit.cli import main

sys.exit(main())
