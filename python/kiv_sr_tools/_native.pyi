from typing import Any, List, Optional, Tuple

class SearchFailed(Exception): ...

def find_candidates_until(
    settings: Tuple[Any, ...], inputs: Any, ys: Any, max_seconds: Optional[float]
) -> Tuple[List[Any], int, Optional[str]]: ...
