# Bad arguments, solver failure and calls that re-enter the solver.
require_relative "test_helper"

# A coordinate whose conversion runs arbitrary Ruby code first.
class HookedCoordinate < Numeric
  def initialize(value, &hook)
    super()
    @value = value
    @hook = hook
  end

  def to_f
    @hook&.call
    @value.to_f
  end
end

class TestErrors < Minitest::Test
  include CorvelanthTestHelpers

  # Asserts the call raises and prints nothing on standard output.
  def assert_refused(error, message = nil, &block)
    result, out, = capture_fds(&block)
    assert_kind_of error, result
    assert_match message, result.message if message
    assert_equal "", out
    assert_equal [5, 4, 2, 3, 0, 1], solve(FIVE_CITIES, FIVE_ROBOT), "the module stays usable"
    result
  end

  def test_wrong_argument_count
    assert_refused(ArgumentError) { Corvelanth.solve(FIVE_CITIES) }
    assert_refused(ArgumentError) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, 1) }
  end

  def test_non_arrays_raise_type_errors_at_the_first_offending_value
    assert_refused(TypeError) { Corvelanth.solve("cities", FIVE_ROBOT) }
    assert_refused(TypeError) { Corvelanth.solve([[1, 2], { x: 1 }], FIVE_ROBOT) }
    assert_refused(TypeError) { Corvelanth.solve([[1, 2]], nil) }
    assert_refused(TypeError, /String/) { Corvelanth.solve([[1, 2], "3,4", nil], 7) }
  end

  def test_unconvertible_coordinates
    assert_refused(TypeError) { Corvelanth.solve([[1, "2"]], FIVE_ROBOT) }
    assert_refused(TypeError) { Corvelanth.solve([[nil, 2]], FIVE_ROBOT) }
    assert_refused(TypeError) { Corvelanth.solve([[1, 2]], [0, :y]) }
  end

  def test_too_many_cities_before_any_element_is_examined
    touched = false
    garbage = Array.new(201) { HookedCoordinate.new(0) { touched = true } }
    error = assert_refused(Corvelanth::TooManyCitiesError, /\Atoo many cities\z/) { Corvelanth.solve(garbage, :no_robot) }
    assert_kind_of RuntimeError, error, "rescue RuntimeError still catches it"
    refute touched
  end

  def test_short_arrays_name_the_offender
    assert_refused(ArgumentError, /city 1\b/) { Corvelanth.solve([[1, 2], [3]], FIVE_ROBOT) }
    assert_refused(ArgumentError, /city 0\b/) { Corvelanth.solve([[]], FIVE_ROBOT) }
    assert_refused(ArgumentError, /robot/) { Corvelanth.solve([[1, 2]], [5]) }
  end

  def test_no_reachable_city_raises_without_a_report
    [[[], [0, 0]], [[[30_000, 0], [0, 40_000]], [0, 0]]].each do |cities, robot|
      result, out, err = capture_fds { Corvelanth.solve(cities, robot) }
      assert_instance_of Corvelanth::UnreachableError, result
      assert_match(/no city can be reached/, result.message)
      assert_equal "", out
      assert_equal "Too few city.\nError.\n", err
    end
    assert_equal [5, 4, 2, 3, 0, 1], solve(FIVE_CITIES, FIVE_ROBOT)
  end

  def test_a_conversion_that_solves_again_does_not_corrupt_the_outer_call
    inner = nil
    hook = HookedCoordinate.new(20) { inner = solve([[1, 1], [2, 2], [9, 9]], [0, 0]) }
    cities = FIVE_CITIES.map(&:dup)
    cities[4] = [0, hook]
    result, out, = capture_fds { Corvelanth.solve(cities, FIVE_ROBOT) }
    assert_equal [5, 4, 2, 3, 0, 1], result
    assert_equal [3, 0, 1, 2], inner
    assert_includes out, "travel\t41.5421\n"
  end

  def test_a_conversion_that_shrinks_the_array_is_refused_safely
    cities = FIVE_CITIES.map(&:dup)
    cities[0] = [HookedCoordinate.new(7) { cities.clear }, 2]
    assert_refused(TypeError) { Corvelanth.solve(cities, FIVE_ROBOT) }
    pair = [1, 2]
    pair[0] = HookedCoordinate.new(1) { pair.clear }
    assert_refused(TypeError) { Corvelanth.solve([pair], FIVE_ROBOT) }
  end

  def test_a_conversion_that_lets_another_thread_solve
    other = nil
    hook = HookedCoordinate.new(20) do
      other = Thread.new { solve([[1, 1], [2, 2], [9, 9]], [0, 0]) }
      other.join
    end
    cities = FIVE_CITIES.map(&:dup)
    cities[4] = [0, hook]
    assert_equal [5, 4, 2, 3, 0, 1], solve(cities, FIVE_ROBOT)
    assert_equal [3, 0, 1, 2], other.value
  end

  def test_errors_surface_in_reading_order
    converted = []
    cities = [[HookedCoordinate.new(1) { converted << :x0 }, HookedCoordinate.new(2) { converted << :y0 }],
              [1, "bad"], [HookedCoordinate.new(3) { converted << :x2 }, 4]]
    assert_refused(TypeError) { Corvelanth.solve(cities, FIVE_ROBOT) }
    assert_equal %i[x0 y0], converted
  end
end
