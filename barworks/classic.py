"""Streaming indicators with the definitions that batch libraries and
charting tools print (TA-Lib's among them): Wilder's relative strength index
and average true range, moving averages seeded with a simple average, rate of
change in percent, a population standard deviation that stays exact however
long the stream, and more. Each answers NaN until it has seen its lookback
(``barworks.lookback(obj)`` gives the count), then a number for every input.
The classes and their definitions are listed in the package's stubs and the
README.
"""

from barworks._classic import *  # noqa: F403
from barworks._classic import __all__  # noqa: F401
