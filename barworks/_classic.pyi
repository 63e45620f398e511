"""The extension module behind barworks.classic: its classes report that
module as theirs and are described there."""

from barworks.classic import *
from barworks.classic import __all__ as __all__
