"""Type information for the trussel extension module."""

from typing import Final, SupportsFloat, SupportsIndex, TypedDict

import numpy as np
import numpy.typing as npt

__all__: Final[list[str]]
__version__: Final[str]  # the package version, as in pyproject.toml

class PanicException(BaseException):
    """Raised when a check inside trussel's native code fails; not caught by `except Exception`."""

class SimulationResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    accepted_edges: list[tuple[int, int]]
    distance_matrix: npt.NDArray[np.float64]
    final_rank: int
    max_rank: int
    is_rigid: bool
    n_nodes: int
    d: int

class PebbleGameResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    accepted_edges: list[tuple[int, int]]
    n_nodes: int
    d: int

class LabelEdgesResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    redundant: npt.NDArray[np.uint8]
    rank: int
    max_rank: int
    is_rigid: bool
    dof: int
    n_nodes: int
    d: int
    accepted_edges: list[tuple[int, int]]

class GenericRigidityResult(TypedDict):
    labels: npt.NDArray[np.uint8]
    redundant: npt.NDArray[np.uint8]
    rank: int
    max_rank: int
    is_rigid: bool
    dof: int
    n_nodes: int
    d: int

class GlobalRigidityResult(TypedDict):
    is_rigid: bool
    is_redundantly_rigid: bool
    is_globally_rigid: bool
    rank: int
    max_rank: int
    connectivity: int | None
    n_nodes: int
    d: int

class RigiditySweepResult(TypedDict):
    independent: npt.NDArray[np.uint8]
    largest_bars: npt.NDArray[np.int64]
    largest_nodes: npt.NDArray[np.int64]
    n_clusters: npt.NDArray[np.int64]
    component: npt.NDArray[np.int64]
    rank: int
    dof: int
    is_rigid: bool

class RigidComponentsResult(TypedDict):
    independent: npt.NDArray[np.uint8]
    redundant: npt.NDArray[np.uint8]
    component: npt.NDArray[np.int64]
    n_components: int
    rank: int
    dof: int
    is_rigid: bool

class ReconstructionResult(TypedDict):
    coords: npt.NDArray[np.float64]
    stress: float
    eigenvalues: npt.NDArray[np.float64]
    is_isometric: bool

def simulate(
    coords: npt.NDArray[np.float64],
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> SimulationResult:
    """Run the rigidity simulation using the fast-path algorithm.

    Parameters
    ----------
    coords : np.ndarray  shape (n, d)  — node coordinates
    d      : int         — embedding dimension (2 or 3)
    tol    : float, optional — tolerance for rank check (default 1e-9)

    Returns
    -------
    dict with keys:
      "labels"           np.ndarray[u8]   1=independent, 0=redundant (GNN training signal)
      "accepted_edges"   list[(i,j)]      the independent edges
      "distance_matrix"  np.ndarray[f64]  shape (n,n), Euclidean distances
      "final_rank"       int
      "max_rank"         int              nd − d(d+1)/2
      "is_rigid"         bool
      "n_nodes"          int
      "d"                int
    """

def gram_from_dist(dist: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
    """Compute the Gram matrix from an Euclidean distance matrix using double-centering.

    Formula:  G = −½ · H · D_sq · H   where H = I − (1/n)·11ᵀ

    If G is positive semi-definite with rank ≤ d, the embedding is isometric (lossless).

    Parameters
    ----------
    dist : np.ndarray  shape (n,n)  — Euclidean distance matrix (NOT squared)

    Returns
    -------
    np.ndarray  shape (n,n)  — Gram matrix G
    """

def generate_training_batch(
    n_graphs: SupportsIndex,
    n_nodes: SupportsIndex,
    d: SupportsIndex,
    seed: SupportsIndex,
) -> list[SimulationResult]:
    """Generate a batch of random simulation results for GNN training.

    Parameters
    ----------
    n_graphs : int — number of graphs
    n_nodes  : int — nodes per graph
    d        : int — embedding dimension (2 or 3)
    seed     : int — RNG seed (each graph gets seed+k)

    Returns
    -------
    list[dict]  — same format as `simulate`, one dict per graph
    """

def max_independent(n: SupportsIndex, d: SupportsIndex) -> int:
    """Max independent edges for n nodes in d dimensions: nd − d(d+1)/2"""

def reconstruct(
    distance_matrix: npt.NDArray[np.float64],
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> ReconstructionResult:
    """Reconstruct node coordinates from a Euclidean distance matrix (Classical MDS).

    Parameters
    ----------
    distance_matrix : np.ndarray shape (n, n) — from simulate()["distance_matrix"]
    d               : int — target dimension (2 or 3)
    tol             : float, optional — stress threshold for is_isometric (default 1e-6)

    Returns dict with keys:
      "coords"       np.ndarray[f64] shape (n, d) — recovered coordinates
      "stress"       float — Kruskal's normalized stress-1 (0.0 = lossless)
      "eigenvalues"  np.ndarray[f64] shape (d,) — top-d Gram matrix eigenvalues
      "is_isometric" bool — True when stress < tol
    """

def pebble_game(coords: npt.NDArray[np.float64], d: SupportsIndex) -> PebbleGameResult:
    """Run the Pebble Game algorithm — O(n^2), deterministic, no matrix rank needed.

    Parameters
    ----------
    coords : np.ndarray shape (n, d) — node coordinates (only d=2 supported)
    d      : int — must be 2

    Returns dict with keys:
      "labels"          np.ndarray[u8]  1=independent, 0=redundant
      "accepted_edges"  list[(i,j)]
      "n_nodes"         int
      "d"               int
    """

def label_edges(
    coords: npt.NDArray[np.float64],
    edges: npt.ArrayLike,
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> LabelEdgesResult:
    """Label the bars of a given edge list by the rank of their rigidity-matrix rows.

    The rank at given positions never exceeds the generic rank, which is decided exactly first
    (generic_rigidity()): once the two are equal, a bar that does not raise the generic rank is
    dependent here too. The other rows are reduced in the given order by sparse elimination with
    threshold pivoting; a bar is independent when its reduced row keeps an entry larger than
    tol · s, s being the largest extent of the coordinates along an axis (so bars shorter than
    that count as joining coincident points). "redundant" does not depend on the order of the bars:
    a bar is redundant when a self-stress is non-zero on it: from combinations of the dependent
    bars' circuits when their forces are clear-cut, else from the projection of fixed
    pseudo-random vectors onto the self-stresses (the least-squares residual, by iterated ridge
    regression, above 1e-10), whose accuracy depends on the smallest non-zero singular value of
    the rigidity matrix and not on the bars the elimination kept.

    Parameters
    ----------
    coords : np.ndarray  shape (n, d)  — finite node coordinates, n ≥ 1
    edges  : array-like  shape (E, 2)  — bars (i, j) of any integer dtype, in the order to label
    d      : int         — embedding dimension (2 or 3)
    tol    : float, optional — relative rank tolerance (default 1e-8), see above

    Returns
    -------
    dict with keys:
      "labels"          np.ndarray[u8]  1 = the bar raises the rank of the bars before it
      "redundant"       np.ndarray[u8]  1 = removing the bar alone leaves the rank unchanged
      "rank"            int             rank of the whole edge list
      "max_rank"        int             n(n−1)/2 for n ≤ d+1, else nd − d(d+1)/2
      "is_rigid"        bool            rank == max_rank
      "dof"             int             max_rank − rank
      "n_nodes"         int
      "d"               int
      "accepted_edges"  list[(i,j)]     the bars labelled 1, as given, in order
    """

def rigid_components(n: SupportsIndex, edges: npt.ArrayLike) -> RigidComponentsResult:
    """Generic rigidity of a graph in the plane by the (2,3) pebble game — no coordinates,
    no matrix rank; the answer for almost every placement of the nodes.

    Parameters
    ----------
    n     : int — number of nodes
    edges : array-like shape (E, 2), integer — the bars (i, j), tested in this order

    Returns dict with keys:
      "independent"   np.ndarray[u8]   1=independent of the bars before it (pebble game)
      "redundant"     np.ndarray[u8]   1=in a circuit: removing it alone keeps the rank
                                      (independent of the order of the bars)
      "component"     np.ndarray[i64]  rigid component of each bar, numbered 0, 1, ... by
                                      first appearance; the components partition the bars
      "n_components"  int
      "rank"          int              number of independent bars
      "dof"           int              2n − 3 − rank (0 for n < 2)
      "is_rigid"      bool             dof == 0
    """

def draw_framework(
    n_nodes: SupportsIndex, d: SupportsIndex, seed: SupportsIndex
) -> npt.NDArray[np.float64]:
    """Draw the node coordinates that generate_training_batch uses: graph k of a batch with
    seed s has the coordinates draw_framework(n_nodes, d, s + k), bit for bit.

    Parameters
    ----------
    n_nodes : int — number of nodes
    d       : int — embedding dimension (2 or 3)
    seed    : int — RNG start

    Returns
    -------
    np.ndarray  shape (n_nodes, d)  — coordinates in [0, 5)
    """

def mds(
    distance_matrix: npt.NDArray[np.float64],
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> ReconstructionResult:
    """Classical MDS like reconstruct(), with eigenpairs computed to convergence at any size.

    Parameters
    ----------
    distance_matrix : np.ndarray shape (n, n) — from simulate()["distance_matrix"]
    d               : int — target dimension (2 or 3)
    tol             : float, optional — stress threshold for is_isometric (default 1e-6)

    Returns dict with keys:
      "coords"       np.ndarray[f64] shape (n, d) — recovered coordinates
      "stress"       float — Kruskal's normalized stress-1 (0.0 = lossless)
      "eigenvalues"  np.ndarray[f64] shape (d,) — top-d Gram matrix eigenvalues
      "is_isometric" bool — True when stress < tol

    Method: the Gram matrix of gram_from_dist(), symmetrised, and its d largest eigenvalues
    (descending) by block Krylov iteration with thick restarts and Rayleigh–Ritz (cyclic
    Jacobi for n ≤ 64), from a fixed start, in a fixed order of operations: the result is
    the same to the last bit on every machine. It stops when every residual |G·v − λ·v|
    is at most 1e-12 times the largest |Ritz value|, and raises PanicException if that takes
    more than 3000 block products. Each eigenvector's entry of largest magnitude (the first
    on ties) is positive. Negative eigenvalues give zero coordinates, as in reconstruct().
    A NaN or infinite Gram matrix entry gives NaN coordinates, eigenvalues and stress.
    """

def generic_rigidity(
    n: SupportsIndex, edges: npt.ArrayLike, d: SupportsIndex
) -> GenericRigidityResult:
    """Generic rigidity of a graph in the plane or in space: the answer for almost every placement
    of the nodes, decided exactly.

    In the plane, the (2,3) pebble game (as rigid_components()). In space, the rank of the
    rigidity matrix at random positions over the prime field of 2^61 − 1 (a fixed seed, so
    answers are reproducible), by exact sparse elimination of the rows in the given order. That
    rank is never above the generic rank and falls below it only where a non-zero polynomial of
    degree at most the rank vanishes at the random point: over the choice of the seed, the
    labels are wrong with probability at most E·rank/(2^61 − 1), and "redundant" with a further
    E/(2^61 − 1) (below 1e-6 in all for a million bars).

    Parameters
    ----------
    n     : int — number of nodes
    edges : array-like shape (E, 2), integer — the bars (i, j), tested in this order
    d     : int — embedding dimension (2 or 3)

    Returns dict with keys:
      "labels"     np.ndarray[u8]  1 = the bar raises the generic rank of the bars before it
      "redundant"  np.ndarray[u8]  1 = in a circuit: removing it alone keeps the generic rank
                                   (independent of the order of the bars)
      "rank"       int             the generic rank of the bars
      "max_rank"   int             n(n−1)/2 for n ≤ d+1, else nd − d(d+1)/2
      "is_rigid"   bool            rank == max_rank
      "dof"        int             max_rank − rank
      "n_nodes"    int
      "d"          int
    """

def rigidity_sweep(n: SupportsIndex, edges: npt.ArrayLike) -> RigiditySweepResult:
    """Rigidity percolation in one pass: the bars are added in the given order to a graph in the
    plane (generic positions, the (2,3) pebble game, as rigid_components) and the rigid clusters
    are kept up to date after every bar, the game never replayed.

    Parameters
    ----------
    n     : int — number of nodes
    edges : array-like shape (E, 2), integer — the bars (i, j), added in this order

    Returns dict with keys:
      "independent"    np.ndarray[u8]   1=independent of the bars before it (pebble game)
      "largest_bars"   np.ndarray[i64]  after each bar: the most bars of one rigid cluster
      "largest_nodes"  np.ndarray[i64]  after each bar: the most nodes of one rigid cluster
                                        (maximised on its own; a lone bar has 2 nodes)
      "n_clusters"     np.ndarray[i64]  after each bar: the number of rigid clusters
      "component"      np.ndarray[i64]  rigid component of each bar after the last one,
                                        numbered as by rigid_components
      "rank"           int              number of independent bars
      "dof"            int              2n − 3 − rank (0 for n < 2)
      "is_rigid"       bool             dof == 0

    The clusters after bar k are the rigid components of rigid_components(n, edges[:k+1]), each
    of at least one bar; cumsum(independent) is the rank after each bar. Memory linear in n + E:
    besides the result (33 bytes per bar) and a copy of the bars (16 per bar), about 32 bytes
    per node and 80 per independent bar (twice that from 2^28 nodes or bars on).
    """

def global_rigidity(
    n: SupportsIndex, edges: npt.ArrayLike, d: SupportsIndex
) -> GlobalRigidityResult:
    """Generic global rigidity of a graph in the plane or in space: whether almost every placement
    of the nodes is determined, up to congruence, by the lengths of its bars.

    A graph on at most d + 1 nodes is globally rigid when complete (a node, a bar, a triangle, a
    tetrahedron). In the plane a larger graph is globally rigid exactly when it is 3-connected
    and redundantly rigid (rigid, and still rigid after removing any one bar): redundancy from
    the (2,3) pebble game (as rigid_components()) and the connectivity are exact, and so is the
    answer. In space a larger graph is globally rigid exactly when, at generic positions, some
    self-stress has a stress matrix of rank n − d − 1; it is tested, when the graph is
    redundantly rigid, on a random self-stress at random positions over the prime field of
    2^61 − 1 (a fixed seed, as generic_rigidity()). A true answer in space is certain; over the
    choice of the seed, a rigid, redundantly rigid or globally rigid graph is reported otherwise
    with probability at most (E + n)·(rank + 1)/(2^61 − 1) (below 1e-6 for a million bars).

    The connectivity takes linear time where a cut node or a node of degree 2 shows it; a
    2-connected graph of minimum degree 3 is proved 3-connected by growing a 3-connected part
    from a node whose neighbourhood is one, a node or a path at a time (near-linear time on
    meshes and lattices); where the growth stops, a part outside it that touches it in 2 nodes
    proves connectivity 2 (linear time); otherwise each node in turn is removed and the rest
    searched for a cut node (time n·(n + E)).

    Parameters
    ----------
    n     : int — number of nodes
    edges : array-like shape (E, 2), integer — the bars (i, j)
    d     : int — embedding dimension (2 or 3)

    Returns dict with keys:
      "is_rigid"              bool        rank == max_rank
      "is_redundantly_rigid"  bool        rigid, and every bar in a circuit
      "is_globally_rigid"     bool
      "rank"                  int         the generic rank of the bars
      "max_rank"              int         n(n−1)/2 for n ≤ d+1, else nd − d(d+1)/2
      "connectivity"          int | None  in the plane the vertex connectivity capped at 3
                                          (0 when disconnected or n ≤ 1, n − 1 for a complete
                                          graph); None in space
      "n_nodes"               int
      "d"                     int
    """

def self_stresses(
    coords: npt.NDArray[np.float64],
    edges: npt.ArrayLike,
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> npt.NDArray[np.float64]:
    """The self-stresses of a framework: an orthonormal basis of the bar tensions ω with ωᵀR = 0,
    R the rigidity matrix of the points (row of bar ij: p_i − p_j in node i's columns, its
    negation in node j's).

    The number of rows is s = E − rank, rank as label_edges(coords, edges, d, tol) decides it, so
    the two agree. The rows are the right singular vectors of Rᵀ of smallest value beyond that
    rank, by one-sided Jacobi rotations in a fixed order (the same bits on every machine); each
    row's entry of largest magnitude (the first on ties) is positive. A dense method: at most 500
    bars and n·d at most 500 (seconds at that size), larger inputs are refused with
    ValueError.

    Parameters
    ----------
    coords : array-like shape (n, d), float — the points
    edges  : array-like shape (E, 2), integer — the bars (i, j)
    d      : int — embedding dimension (2 or 3)
    tol    : float or None — label_edges' tolerance (default 1e-8)

    Returns np.ndarray[f64] shape (s, E)
    """

def infinitesimal_flexes(
    coords: npt.NDArray[np.float64],
    edges: npt.ArrayLike,
    d: SupportsIndex,
    tol: SupportsFloat | SupportsIndex | None = None,
) -> npt.NDArray[np.float64]:
    """The non-trivial infinitesimal flexes of a framework: an orthonormal basis of the velocities u
    of the nodes with R·u = 0 (R the rigidity matrix of the points) that are orthogonal to the
    trivial motions, the translations and the rotations about the centroid.

    The null space of R beyond the rank label_edges(coords, edges, d, tol) decides, projected off
    the trivial motions, by one-sided Jacobi rotations in a fixed order (the same bits on every
    machine); each flex's entry of largest magnitude (the first on ties) is positive. There are
    k = n·d − rank − d(d+1)/2 when the points span the space (affinely). When they do not, some
    rotations vanish or coincide (collinear points in space: the turn about their line), the
    trivial motions have lower dimension t (d for a single point or coincident ones, 5 for
    collinear points in space; collinear points in the plane keep all 3), and k = n·d − rank − t.
    A dense method: at most 500 bars and n·d at most 500 (seconds at that size), larger
    inputs are refused with ValueError.

    Parameters
    ----------
    coords : array-like shape (n, d), float — the points
    edges  : array-like shape (E, 2), integer — the bars (i, j)
    d      : int — embedding dimension (2 or 3)
    tol    : float or None — label_edges' tolerance (default 1e-8)

    Returns np.ndarray[f64] shape (k, n, d): flex m moves node i with velocity [m, i]; each flex
    has unit norm over all n·d entries
    """
