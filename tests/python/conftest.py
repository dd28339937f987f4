import pathlib

import pytest

SHARED_DATA = pathlib.Path(__file__).resolve().parents[3] / "shared" / "data"


@pytest.fixture
def shared_data():
    if not SHARED_DATA.is_dir():
        pytest.skip("shared data directory not available")
    return SHARED_DATA
