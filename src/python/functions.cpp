// The functions the module exports: bind, convert, check, compute, build the result.
#include "python/functions.hpp"

#include <optional>
#include <utility>
#include <vector>

#include "batch/coordinate_rng.hpp"
#include "batch/training_batch.hpp"
#include "embedding/mds.hpp"
#include "graph/edge_list.hpp"
#include "graph/generic_rigidity.hpp"
#include "graph/global_rigidity.hpp"
#include "graph/label_edges.hpp"
#include "graph/motion_spaces.hpp"
#include "graph/rigid_components.hpp"
#include "graph/rigidity_sweep.hpp"
#include "pebble/pebble_game.hpp"
#include "python/args.hpp"
#include "python/exceptions.hpp"
#include "python/interrupts.hpp"
#include "python/numpy_api.hpp"
#include "python/results.hpp"
#include "reconstruct/classical_mds.hpp"
#include "reconstruct/double_centering.hpp"
#include "rigidity/rigidity_row.hpp"
#include "simulation/simulation.hpp"

namespace trussel::py {
namespace {

// A Python int from a count of up to 128 bits.
PyRef new_wide_int(const WideCount& value) {
  PyRef low = new_int(value.lo);
  if (value.hi == 0) return low;
  PyRef high = new_int(value.hi);
  PyRef shift = new_int(64);
  PyRef shifted = check_new(PyNumber_Lshift(high.get(), shift.get()));
  return check_new(PyNumber_Or(shifted.get(), low.get()));
}

// dof = max(0, 2n - 3) - rank, exact for every n.
WideCount plane_dof(std::uint64_t n, std::uint64_t rank) {
  WideCount dof = rank_bound(n, 2);
  if (dof.lo < rank) --dof.hi;
  dof.lo -= rank;
  return dof;
}

// The node list of a simulate() call: row k of the array, its d values read through the strides.
NodeList read_nodes(const FloatArrayView& coords, std::uint64_t d) {
  NodeList nodes(static_cast<std::size_t>(coords.rows()));
  for (std::uint64_t k = 0; k < coords.rows(); ++k) {
    nodes[k].index = k;
    nodes[k].coords.resize(static_cast<std::size_t>(d));
    for (std::uint64_t c = 0; c < d; ++c) nodes[k].coords[c] = coords.at(k, c);
  }
  return nodes;
}

// The four-key dict of reconstruct() and mds(); is_isometric is stress < tol.
PyRef make_reconstruction_dict(Reconstruction&& result, double tol) {
  const double stress = result.stress;
  PyRef dict = check_new(PyDict_New());
  set_item(dict.get(), "coords", new_float64_array(std::move(result.coords)));
  set_item(dict.get(), "stress", check_new(PyFloat_FromDouble(stress)));
  set_item(dict.get(), "eigenvalues", new_float64_vector(std::move(result.eigenvalues)));
  set_item(dict.get(), "is_isometric", PyRef::borrow(stress < tol ? Py_True : Py_False));
  return dict;
}

// reconstruct() and mds(): the same arguments, checks and dict around their own method, which
// runs on a copy of the matrix with the interpreter lock released.
PyRef run_reconstruction(const Signature& signature, double default_tol, PyObject* args,
                         PyObject* kwargs,
                         Reconstruction (*method)(const FloatMatrix&, std::uint64_t)) {
  PyObject* slot[3];
  bind_arguments(signature, args, kwargs, slot);
  FloatArrayView matrix = to_float_array(slot[0], "distance_matrix");
  const std::uint64_t d = to_count(slot[1], "d");
  const double tol = to_optional_float(slot[2], "tol", default_tol);

  if (matrix.rows() != matrix.cols()) throw ValueError("distance_matrix must be square");
  FloatMatrix distances = matrix.copy();
  Reconstruction result;
  {
    InterruptibleRelease unlocked;
    result = method(distances, d);  // Panic
  }
  return make_reconstruction_dict(std::move(result), tol);
}

// self_stresses() and infinitesimal_flexes(): label_edges' arguments and checks, the size limit,
// then the basis with the interpreter lock released.
FloatMatrix run_motion_space(const Signature& signature, PyObject* args, PyObject* kwargs,
                             FloatMatrix (*basis)(const FloatMatrix&, const std::vector<Edge>&,
                                                  double),
                             std::uint64_t& n, std::uint64_t& d) {
  PyObject* slot[4];
  bind_arguments(signature, args, kwargs, slot);
  FloatArrayView view = to_float_array(slot[0], "coords");
  EdgeList edges = to_edge_list(slot[1], "edges");
  d = to_count(slot[2], "d");
  const double tol = to_optional_float(slot[3], "tol", kLabelEdgesTolerance);

  check_label_edges_shape(view.rows(), view.cols(), d);  // ValueError
  n = view.rows();
  check_edge_list(n, edges);                                          // ValueError
  check_motion_space_size(signature.name, edges.edges.size(), n, d);  // ValueError
  FloatMatrix coords = view.copy();
  check_label_edges_values(coords, tol);  // ValueError
  InterruptibleRelease unlocked;
  return basis(coords, edges.edges, tol);
}

}  // namespace

PyObject* py_simulate(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[3];
    bind_arguments(kSimulateSignature, args, kwargs, slot);
    FloatArrayView coords = to_float_array(slot[0], "coords");
    const std::uint64_t d = to_count(slot[1], "d");
    const double tol = to_optional_float(slot[2], "tol", kSimulateTolerance);

    check_simulate_arguments(coords.rows(), coords.cols(), d);  // ValueError
    const std::uint64_t n = coords.rows();
    NodeList nodes = read_nodes(coords, d);
    FloatMatrix distances = distance_matrix(nodes);
    const std::uint64_t bound = max_rank(n, d);

    std::optional<Labelling> labelling;
    {
      InterruptibleRelease unlocked;
      labelling = run_fast_path(nodes, d, tol, bound);
    }
    if (!labelling) {
      InterruptibleRelease unlocked;
      labelling = label_edge_by_edge(nodes, d, tol, bound);
    }
    return make_result_dict(n, d, std::move(labelling->accepted_edges),
                            std::move(labelling->labels), std::move(distances),
                            labelling->final_rank, bound);
  });
}

PyObject* py_gram_from_dist(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[1];
    bind_arguments(kGramFromDistSignature, args, kwargs, slot);
    FloatArrayView dist = to_float_array(slot[0], "dist");

    if (dist.rows() != dist.cols()) throw ValueError("Distance matrix must be square");
    // The lock is held throughout, so the caller's array is read in place.
    FloatMatrix gram =
        double_center(dist.rows(), [&](std::uint64_t i, std::uint64_t j) { return dist.at(i, j); });
    return new_float64_array(std::move(gram));
  });
}

PyObject* py_generate_training_batch(PyObject* /*module*/, PyObject* args,
                                     PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[4];
    bind_arguments(kTrainingBatchSignature, args, kwargs, slot);
    const std::uint64_t n_graphs = to_count(slot[0], "n_graphs");
    const std::uint64_t n_nodes = to_count(slot[1], "n_nodes");
    const std::uint64_t d = to_count(slot[2], "d");
    const std::uint64_t seed = to_count(slot[3], "seed");

    std::vector<SimulationResult> results;
    {
      InterruptibleRelease unlocked;
      results = run_training_batch(n_graphs, n_nodes, d, seed);
    }
    PyRef list = check_new(PyList_New(0));
    GcPause paused;  // dicts, lists and tuples of ints and arrays: nothing to collect
    for (SimulationResult& result : results) {
      PyRef dict = make_result_dict(result.n_nodes, result.d, std::move(result.accepted_edges),
                                    std::move(result.labels), std::move(result.distance_matrix),
                                    result.final_rank, result.max_rank);
      check_status(PyList_Append(list.get(), dict.get()));
      result = SimulationResult{};  // free each record as soon as its dict exists
    }
    return list;
  });
}

PyObject* py_max_independent(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[2];
    bind_arguments(kMaxIndependentSignature, args, kwargs, slot);
    const std::uint64_t n = to_count(slot[0], "n");
    const std::uint64_t d = to_count(slot[1], "d");
    return new_wide_int(rank_bound(n, d));
  });
}

PyObject* py_reconstruct_coords(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    return run_reconstruction(kReconstructSignature, kReconstructTolerance, args, kwargs,
                              reconstruct_coords);
  });
}

PyObject* py_pebble_game(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[2];
    bind_arguments(kPebbleGameSignature, args, kwargs, slot);
    FloatArrayView coords = to_float_array(slot[0], "coords");
    const std::uint64_t d = to_count(slot[1], "d");

    // Only the number of rows matters: the game never reads the coordinates.
    const std::uint64_t n = coords.rows();
    if (d != 2) throw ValueError("pebble_game only supports d=2");
    check_pebble_game_size(n);  // Panic "capacity overflow"
    PebbleGameResult result;
    {
      InterruptibleRelease unlocked;
      result = play_pebble_game(n);
    }
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "labels", new_uint8_array(std::move(result.labels)));
    set_item(dict.get(), "accepted_edges", new_edge_list(result.accepted_edges));
    set_item(dict.get(), "n_nodes", new_int(n));
    set_item(dict.get(), "d", new_int(2));
    return dict;
  });
}

PyObject* py_mds(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded(
      [&] { return run_reconstruction(kMdsSignature, kMdsTolerance, args, kwargs, mds_coords); });
}

PyObject* py_label_edges(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[4];
    bind_arguments(kLabelEdgesSignature, args, kwargs, slot);
    FloatArrayView view = to_float_array(slot[0], "coords");
    EdgeList edges = to_edge_list(slot[1], "edges");
    const std::uint64_t d = to_count(slot[2], "d");
    const double tol = to_optional_float(slot[3], "tol", kLabelEdgesTolerance);

    check_label_edges_shape(view.rows(), view.cols(), d);  // ValueError
    const std::uint64_t n = view.rows();
    check_edge_list(n, edges);  // ValueError
    FloatMatrix coords = view.copy();
    check_label_edges_values(coords, tol);  // ValueError
    EdgeLabelling result;
    {
      InterruptibleRelease unlocked;
      result = label_edges(coords, edges.edges, tol);
    }
    std::vector<Edge> accepted;
    accepted.reserve(static_cast<std::size_t>(result.rank));
    for (std::size_t k = 0; k < edges.edges.size(); ++k) {
      if (result.labels[k] == 1) accepted.push_back(edges.edges[k]);
    }
    const std::uint64_t rank = result.rank, bound = result.max_rank;
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "labels", new_uint8_array(std::move(result.labels)));
    set_item(dict.get(), "redundant", new_uint8_array(std::move(result.redundant)));
    set_item(dict.get(), "rank", new_int(rank));
    set_item(dict.get(), "max_rank", new_int(bound));
    set_item(dict.get(), "is_rigid", PyRef::borrow(rank == bound ? Py_True : Py_False));
    set_item(dict.get(), "dof", new_int(bound - rank));
    set_item(dict.get(), "n_nodes", new_int(n));
    set_item(dict.get(), "d", new_int(d));
    set_item(dict.get(), "accepted_edges", new_edge_list(accepted));
    return dict;
  });
}

PyObject* py_rigid_components(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[2];
    bind_arguments(kRigidComponentsSignature, args, kwargs, slot);
    const std::uint64_t n = to_count(slot[0], "n");
    EdgeList edges = to_edge_list(slot[1], "edges");

    check_edge_list(n, edges);  // ValueError
    RigidComponentsResult result;
    {
      InterruptibleRelease unlocked;
      result = find_rigid_components(n, edges.edges);  // Panic
    }
    const WideCount dof = plane_dof(n, result.rank);
    const bool is_rigid = dof.hi == 0 && dof.lo == 0;
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "independent", new_uint8_array(std::move(result.independent)));
    set_item(dict.get(), "redundant", new_uint8_array(std::move(result.redundant)));
    set_item(dict.get(), "component", new_int64_array(std::move(result.component)));
    set_item(dict.get(), "n_components", new_int(result.n_components));
    set_item(dict.get(), "rank", new_int(result.rank));
    set_item(dict.get(), "dof", new_wide_int(dof));
    set_item(dict.get(), "is_rigid", PyRef::borrow(is_rigid ? Py_True : Py_False));
    return dict;
  });
}

PyObject* py_generic_rigidity(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[3];
    bind_arguments(kGenericRigiditySignature, args, kwargs, slot);
    const std::uint64_t n = to_count(slot[0], "n");
    EdgeList edges = to_edge_list(slot[1], "edges");
    const std::uint64_t d = to_count(slot[2], "d");

    if (d != 2 && d != 3) throw ValueError("d must be 2 or 3");
    check_edge_list(n, edges);  // ValueError
    GenericRigidity result;
    {
      InterruptibleRelease unlocked;
      result = generic_rigidity(n, edges.edges, d);  // Panic "capacity overflow"
    }
    const std::uint64_t rank = result.rank, bound = result.max_rank;
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "labels", new_uint8_array(std::move(result.labels)));
    set_item(dict.get(), "redundant", new_uint8_array(std::move(result.redundant)));
    set_item(dict.get(), "rank", new_int(rank));
    set_item(dict.get(), "max_rank", new_int(bound));
    set_item(dict.get(), "is_rigid", PyRef::borrow(rank == bound ? Py_True : Py_False));
    set_item(dict.get(), "dof", new_int(bound - rank));
    set_item(dict.get(), "n_nodes", new_int(n));
    set_item(dict.get(), "d", new_int(d));
    return dict;
  });
}

PyObject* py_draw_framework(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[3];
    bind_arguments(kDrawFrameworkSignature, args, kwargs, slot);
    const std::uint64_t n_nodes = to_count(slot[0], "n_nodes");
    const std::uint64_t d = to_count(slot[1], "d");
    const std::uint64_t seed = to_count(slot[2], "seed");

    if (d != 2 && d != 3) throw ValueError("d must be 2 or 3");
    FloatMatrix coords;
    {
      InterruptibleRelease unlocked;
      CoordinateRng rng(seed);
      coords = draw_coordinates(rng, n_nodes, d);  // Panic "capacity overflow"
    }
    return new_float64_array(std::move(coords));
  });
}

PyObject* py_rigidity_sweep(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[2];
    bind_arguments(kRigiditySweepSignature, args, kwargs, slot);
    const std::uint64_t n = to_count(slot[0], "n");
    EdgeList edges = to_edge_list(slot[1], "edges");

    check_edge_list(n, edges);  // ValueError
    RigiditySweepResult result;
    {
      InterruptibleRelease unlocked;
      result = sweep_rigidity(n, edges.edges);  // Panic
    }
    edges = EdgeList{};  // the bars are no longer needed: free them before the result grows
    const WideCount dof = plane_dof(n, result.rank);
    const bool is_rigid = dof.hi == 0 && dof.lo == 0;
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "independent", new_uint8_array(std::move(result.independent)));
    set_item(dict.get(), "largest_bars", new_int64_array(std::move(result.largest_bars)));
    set_item(dict.get(), "largest_nodes", new_int64_array(std::move(result.largest_nodes)));
    set_item(dict.get(), "n_clusters", new_int64_array(std::move(result.n_clusters)));
    set_item(dict.get(), "component", new_int64_array(std::move(result.component)));
    set_item(dict.get(), "rank", new_int(result.rank));
    set_item(dict.get(), "dof", new_wide_int(dof));
    set_item(dict.get(), "is_rigid", PyRef::borrow(is_rigid ? Py_True : Py_False));
    return dict;
  });
}

PyObject* py_global_rigidity(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    PyObject* slot[3];
    bind_arguments(kGlobalRigiditySignature, args, kwargs, slot);
    const std::uint64_t n = to_count(slot[0], "n");
    EdgeList edges = to_edge_list(slot[1], "edges");
    const std::uint64_t d = to_count(slot[2], "d");

    if (d != 2 && d != 3) throw ValueError("d must be 2 or 3");
    check_edge_list(n, edges);  // ValueError
    GlobalRigidity result;
    {
      InterruptibleRelease unlocked;
      result = global_rigidity(n, edges.edges, d);  // Panic
    }
    const auto flag = [](bool value) { return PyRef::borrow(value ? Py_True : Py_False); };
    PyRef dict = check_new(PyDict_New());
    set_item(dict.get(), "is_rigid", flag(result.is_rigid));
    set_item(dict.get(), "is_redundantly_rigid", flag(result.is_redundantly_rigid));
    set_item(dict.get(), "is_globally_rigid", flag(result.is_globally_rigid));
    set_item(dict.get(), "rank", new_int(result.rank));
    set_item(dict.get(), "max_rank", new_int(result.max_rank));
    set_item(dict.get(), "connectivity",
             d == 2 ? new_int(result.connectivity) : PyRef::borrow(Py_None));
    set_item(dict.get(), "n_nodes", new_int(n));
    set_item(dict.get(), "d", new_int(d));
    return dict;
  });
}

PyObject* py_self_stresses(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    std::uint64_t n = 0, d = 0;
    FloatMatrix basis =
        run_motion_space(kSelfStressesSignature, args, kwargs, self_stress_basis, n, d);
    return new_float64_array(std::move(basis));
  });
}

PyObject* py_infinitesimal_flexes(PyObject* /*module*/, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] {
    std::uint64_t n = 0, d = 0;
    FloatMatrix basis =
        run_motion_space(kInfinitesimalFlexesSignature, args, kwargs, flex_basis, n, d);
    const std::uint64_t k = basis.rows();
    PyRef flat = new_float64_array(std::move(basis));
    return check_new(PyObject_CallMethod(
        flat.get(), "reshape", "KKK", static_cast<unsigned long long>(k),
        static_cast<unsigned long long>(n), static_cast<unsigned long long>(d)));
  });
}

}  // namespace trussel::py
