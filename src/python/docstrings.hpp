// Signature lines and docstrings of the module's functions (UTF-8).
#pragma once

namespace trussel::py {

inline constexpr const char kSimulateDoc[] =
    "simulate(coords, d, tol=None)\n"
    "--\n"
    "\n"
    "Run the rigidity simulation using the fast-path algorithm.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "coords : np.ndarray  shape (n, d)  \u2014 node coordinates\n"
    "d      : int         \u2014 embedding dimension (2 or 3)\n"
    "tol    : float, optional \u2014 tolerance for rank check (default 1e-9)\n"
    "\n"
    "Returns\n"
    "-------\n"
    "dict with keys:\n"
    "  \"labels\"           np.ndarray[u8]   1=independent, 0=redundant (GNN training signal)\n"
    "  \"accepted_edges\"   list[(i,j)]      the independent edges\n"
    "  \"distance_matrix\"  np.ndarray[f64]  shape (n,n), Euclidean distances\n"
    "  \"final_rank\"       int\n"
    "  \"max_rank\"         int              nd \u2212 d(d+1)/2\n"
    "  \"is_rigid\"         bool\n"
    "  \"n_nodes\"          int\n"
    "  \"d\"                int";

inline constexpr const char kGramFromDistDoc[] =
    "gram_from_dist(dist)\n"
    "--\n"
    "\n"
    "Compute the Gram matrix from an Euclidean distance matrix using double-centering.\n"
    "\n"
    "Formula:  G = \u2212\u00bd \u00b7 H \u00b7 D_sq \u00b7 H   where H = I \u2212 "
    "(1/n)\u00b711\u1d40\n"
    "\n"
    "If G is positive semi-definite with rank \u2264 d, the embedding is isometric (lossless).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "dist : np.ndarray  shape (n,n)  \u2014 Euclidean distance matrix (NOT squared)\n"
    "\n"
    "Returns\n"
    "-------\n"
    "np.ndarray  shape (n,n)  \u2014 Gram matrix G";

inline constexpr const char kTrainingBatchDoc[] =
    "generate_training_batch(n_graphs, n_nodes, d, seed)\n"
    "--\n"
    "\n"
    "Generate a batch of random simulation results for GNN training.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "n_graphs : int \u2014 number of graphs\n"
    "n_nodes  : int \u2014 nodes per graph\n"
    "d        : int \u2014 embedding dimension (2 or 3)\n"
    "seed     : int \u2014 RNG seed (each graph gets seed+k)\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list[dict]  \u2014 same format as `simulate`, one dict per graph";

inline constexpr const char kMaxIndependentDoc[] =
    "max_independent(n, d)\n"
    "--\n"
    "\n"
    "Max independent edges for n nodes in d dimensions: nd \u2212 d(d+1)/2";

inline constexpr const char kReconstructDoc[] =
    "reconstruct(distance_matrix, d, tol=None)\n"
    "--\n"
    "\n"
    "Reconstruct node coordinates from a Euclidean distance matrix (Classical MDS).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "distance_matrix : np.ndarray shape (n, n) \u2014 from simulate()[\"distance_matrix\"]\n"
    "d               : int \u2014 target dimension (2 or 3)\n"
    "tol             : float, optional \u2014 stress threshold for is_isometric (default 1e-6)\n"
    "\n"
    "Returns dict with keys:\n"
    "  \"coords\"       np.ndarray[f64] shape (n, d) \u2014 recovered coordinates\n"
    "  \"stress\"       float \u2014 Kruskal's normalized stress-1 (0.0 = lossless)\n"
    "  \"eigenvalues\"  np.ndarray[f64] shape (d,) \u2014 top-d Gram matrix eigenvalues\n"
    "  \"is_isometric\" bool \u2014 True when stress < tol";

inline constexpr const char kPebbleGameDoc[] =
    "pebble_game(coords, d)\n"
    "--\n"
    "\n"
    "Run the Pebble Game algorithm \u2014 O(n^2), deterministic, no matrix rank needed.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "coords : np.ndarray shape (n, d) \u2014 node coordinates (only d=2 supported)\n"
    "d      : int \u2014 must be 2\n"
    "\n"
    "Returns dict with keys:\n"
    "  \"labels\"          np.ndarray[u8]  1=independent, 0=redundant\n"
    "  \"accepted_edges\"  list[(i,j)]\n"
    "  \"n_nodes\"         int\n"
    "  \"d\"               int";

inline constexpr const char kRigidComponentsDoc[] =
    "rigid_components(n, edges)\n"
    "--\n"
    "\n"
    "Generic rigidity of a graph in the plane by the (2,3) pebble game \u2014 no coordinates,\n"
    "no matrix rank; the answer for almost every placement of the nodes.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "n     : int \u2014 number of nodes\n"
    "edges : array-like shape (E, 2), integer \u2014 the bars (i, j), tested in this order\n"
    "\n"
    "Returns dict with keys:\n"
    "  \"independent\"   np.ndarray[u8]   1=independent of the bars before it (pebble game)\n"
    "  \"redundant\"     np.ndarray[u8]   1=in a circuit: removing it alone keeps the rank\n"
    "                                  (independent of the order of the bars)\n"
    "  \"component\"     np.ndarray[i64]  rigid component of each bar, numbered 0, 1, ... by\n"
    "                                  first appearance; the components partition the bars\n"
    "  \"n_components\"  int\n"
    "  \"rank\"          int              number of independent bars\n"
    "  \"dof\"           int              2n \u2212 3 \u2212 rank (0 for n < 2)\n"
    "  \"is_rigid\"      bool             dof == 0";

inline constexpr const char kDrawFrameworkDoc[] =
    "draw_framework(n_nodes, d, seed)\n"
    "--\n"
    "\n"
    "Draw the node coordinates that generate_training_batch uses: graph k of a batch with\n"
    "seed s has the coordinates draw_framework(n_nodes, d, s + k), bit for bit.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "n_nodes : int \u2014 number of nodes\n"
    "d       : int \u2014 embedding dimension (2 or 3)\n"
    "seed    : int \u2014 RNG start\n"
    "\n"
    "Returns\n"
    "-------\n"
    "np.ndarray  shape (n_nodes, d)  \u2014 coordinates in [0, 5)";

}  // namespace trussel::py
