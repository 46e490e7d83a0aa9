# Hostile and unusual input: every call either raises the expected exception
# having printed nothing, or returns the expected route with its report, and
# the module keeps working afterwards.
require_relative "test_helper"
require "bigdecimal"

# A coordinate whose conversion runs the given block and returns its value.
class ScriptedCoordinate < Numeric
  def initialize(&conversion)
    super()
    @conversion = conversion
  end

  def to_f
    @conversion.call.to_f
  end
end

# Raised by coordinates that refuse to convert.
class ConversionRefused < StandardError; end

class TestBadInput < Minitest::Test
  include CorvelanthTestHelpers

  FIVE_ROUTE = [5, 4, 2, 3, 0, 1].freeze

  # Asserts the module still gives the five-city route, quietly apart from its report.
  def assert_still_works
    result, out, err = capture_fds { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT) }
    assert_equal FIVE_ROUTE, result, "the next call still works"
    assert_includes out, "travel\t41.5421\n"
    assert_equal "", err
  end

  # Asserts the call raises `error` (with a message matching `message`) and
  # writes nothing at all, then that the next call works.
  def assert_refused(error, message = nil, &call)
    result, out, err = capture_fds(&call)
    assert_instance_of error, result
    assert_match message, result.message if message
    assert_equal "", out, "a refused call prints no report"
    assert_equal "", err, "a refused call writes no diagnostic"
    assert_still_works
    result
  end

  # Asserts the call returns `route`, prints one report ending in a route of
  # that length, writes `diagnostics` (a String or Regexp) on standard error,
  # and that the next call works. Returns the report.
  def assert_route(route, diagnostics = "", &call)
    result, out, err = capture_fds(&call)
    raise result if result.is_a?(Exception)

    assert_equal route, result
    assert_equal 1, out.scan("[Corvelanth]\n").size, "one report per call"
    assert_equal route.size, out.scan(/^  \d+th\t/).size, "one report line per route position"
    diagnostics.is_a?(Regexp) ? assert_match(diagnostics, err) : assert_equal(diagnostics, err)
    assert_still_works
    out
  end

  # Asserts the call fails as an unreachable instance does, then that the next call works.
  def assert_unreachable(&call)
    result, out, err = capture_fds(&call)
    assert_instance_of Corvelanth::UnreachableError, result
    assert_equal "no city can be reached from the robot", result.message
    assert_equal "", out
    assert_match(/Too few city\.\nError\.\n\z/, err)
    assert_still_works
  end

  # Runs the block with the collector running at every allocation.
  def with_gc_stress
    GC.stress = true
    yield
  ensure
    GC.stress = false
  end

  # -- wrong types -------------------------------------------------------

  def test_cities_of_the_wrong_type
    [nil, 42, 1.5, :cities, { 0 => [1, 2] }, (1..3), Struct.new(:x, :y).new(1, 2)].each do |cities|
      assert_refused(TypeError, /expected Array/) { Corvelanth.solve(cities, FIVE_ROBOT) }
    end
  end

  def test_a_city_of_the_wrong_type_first_middle_or_last
    [nil, 3, 2.5, "1,2", :city, { x: 1, y: 2 }, 1..2].each_with_index do |bad, i|
      cities = FIVE_CITIES.dup
      cities[i % 5] = bad
      assert_refused(TypeError, /expected Array/) { Corvelanth.solve(cities, FIVE_ROBOT) }
    end
  end

  def test_a_robot_of_the_wrong_type
    ["0,0", { x: 0, y: 0 }, 1.5, Object.new, 0..1].each do |robot|
      assert_refused(TypeError, /expected Array/) { Corvelanth.solve(FIVE_CITIES, robot) }
    end
  end

  def test_cities_are_checked_before_the_robot
    assert_refused(TypeError, /from string/) { Corvelanth.solve([[1, "2"]], :not_a_robot) }
    assert_refused(ArgumentError, /city 0/) { Corvelanth.solve([[1]], []) }
  end

  # -- short arrays ------------------------------------------------------

  def test_short_robot_and_short_last_of_200_cities
    assert_refused(ArgumentError, /\Arobot must have two coordinates\z/) { Corvelanth.solve(FIVE_CITIES, []) }
    cities = Array.new(200) { |i| [i % 20, i / 20] }
    cities[199] = [7]
    assert_refused(ArgumentError, /\Acity 199 must have two coordinates\z/) { Corvelanth.solve(cities, [0, 0]) }
  end

  def test_length_is_checked_before_any_coordinate_of_that_city
    refused = ScriptedCoordinate.new { raise ConversionRefused }
    assert_refused(ArgumentError, /city 1/) { Corvelanth.solve([[1, 2], [refused]], FIVE_ROBOT) }
    assert_refused(ArgumentError, /city 0/) { Corvelanth.solve([[nil]], FIVE_ROBOT) }
  end

  # -- coordinates that are not numbers ------------------------------------

  def test_nil_strings_symbols_and_booleans_as_coordinates
    { [1, nil] => /from nil/, ["1.5", 2] => /from string/, [true, 0] => /from true/, [0, false] => /from false/,
      [:x, 1] => /Symbol into Float/ }.each do |city, message|
      assert_refused(TypeError, message) { Corvelanth.solve([[1, 2], city], FIVE_ROBOT) }
    end
    assert_refused(TypeError, /nil/) { Corvelanth.solve(FIVE_CITIES, [nil, 0]) }
    assert_refused(TypeError, /string/) { Corvelanth.solve(FIVE_CITIES, %w[0 0]) }
  end

  def test_objects_without_a_float_conversion
    assert_refused(TypeError, /BasicObject into Float/) { Corvelanth.solve([[BasicObject.new, 2]], FIVE_ROBOT) }
    assert_refused(TypeError, /Object into Float/) { Corvelanth.solve([[Object.new, 2]], FIVE_ROBOT) }
    assert_refused(RangeError, /can't convert 1\+1i/) { Corvelanth.solve([[Complex(1, 1), 2]], FIVE_ROBOT) }
  end

  def test_a_to_f_that_returns_something_other_than_a_float
    [3, "3", nil, Rational(3)].each do |value|
      liar = Object.new
      liar.define_singleton_method(:to_f) { value }
      assert_refused(TypeError, /to_f gives/) { Corvelanth.solve([[liar, 2]], FIVE_ROBOT) }
    end
  end

  # -- numbers of every kind -----------------------------------------------

  def test_rational_bigdecimal_complex_and_other_to_f_values_convert
    expected = solve([[0.5, 2.0], [3.0, 4.0], [1.0 / 3, 9.0]], [0.0, 0.0])
    assert_route(expected) do
      Corvelanth.solve([[Rational(1, 2), 2], [BigDecimal("3"), Complex(4, 0)], [Rational(1, 3), BigDecimal("9.0")]],
                       [Time.at(0), Rational(0)])
    end
  end

  def test_huge_integers_become_infinite_and_are_never_placed
    assert_route([2, 1], /No position\.\n\z/) { Corvelanth.solve([[10**400, 0], [1, 1]], [0, 0]) }
    assert_route([2, 0], /No position\.\n\z/) { Corvelanth.solve([[1, 1], [0, -10**400]], [0, 0]) }
    assert_unreachable { Corvelanth.solve([[1, 1]], [10**400, 0]) }
  end

  def test_integers_beyond_64_bits_round_to_the_nearest_double
    assert_unreachable { Corvelanth.solve([[2**64, 0]], [0, 0]) }
    # Both cities round onto the robot: distance 0, so the earliest position wins.
    assert_route([2, 1, 0]) { Corvelanth.solve([[2**70 + 1, 0], [2**70 + 2, 0]], [2**70, 0]) }
  end

  def test_nan_and_infinity_cities_are_never_placed
    [Float::NAN, Float::INFINITY, -Float::INFINITY, BigDecimal("NaN"), BigDecimal("-Infinity")].each do |bad|
      out = assert_route([3, 0, 2], /\A(No position\.\n)+\z/) { Corvelanth.solve([[1, 0], [bad, 0], [2, 0]], [0, 0]) }
      assert_match(/^\tc1\t-?(nan|inf) 0\.0000$/, out, "the report still lists the unplaced city")
    end
  end

  def test_a_non_finite_robot_reaches_no_city
    [Float::NAN, Float::INFINITY, -Float::INFINITY].each do |bad|
      assert_unreachable { Corvelanth.solve(FIVE_CITIES, [2, bad]) }
    end
  end

  def test_values_at_the_edges_of_the_double_range_and_the_ceiling
    assert_unreachable { Corvelanth.solve([[30_000, 0], [0, -30_000.0]], [0, 0]) }
    assert_route([1, 0], "No position.\n") { Corvelanth.solve([[29_999.999, 0]], [0, 0]) }
    assert_route([2, 1], "No position.\n") { Corvelanth.solve([[Float::MAX, -Float::MAX], [1, 1]], [0, 0]) }
    assert_route([2, 1, 0]) { Corvelanth.solve([[5e-324, 0], [0, Float::MIN]], [-0.0, -0.0]) }
  end

  # -- arrays that are not plain ---------------------------------------------

  # Every method a Ruby-level reader could use gives lies; the binding reads
  # the array's real storage.
  class LyingArray < Array
    def [](*) = [99, 99]
    def at(*) = [99, 99]
    def fetch(*) = [99, 99]
    def size = 1
    def length = 1
    def each(*) = raise(ConversionRefused)
    def to_a = raise(ConversionRefused)
    def to_ary = raise(ConversionRefused)
  end

  def test_array_subclasses_are_read_as_arrays
    cities = LyingArray.new(FIVE_CITIES.map { |x, y| LyingArray.new([x, y]) })
    assert_route(FIVE_ROUTE) { Corvelanth.solve(cities, LyingArray.new(FIVE_ROBOT)) }
  end

  def test_frozen_input_is_accepted_and_left_alone
    cities = FIVE_CITIES.map { |city| city.dup.freeze }.freeze
    robot = FIVE_ROBOT.dup.freeze
    route = nil
    assert_route(FIVE_ROUTE) { route = Corvelanth.solve(cities, robot) }
    assert_equal FIVE_CITIES, cities
    refute route.frozen?
    route.clear
    assert_equal FIVE_ROUTE, solve(FIVE_CITIES, FIVE_ROBOT), "a returned array is the caller's own"
  end

  def test_to_ary_objects_and_structs_are_points_and_to_a_alone_is_not
    converted = []
    like = lambda do |value, name|
      obj = Object.new
      obj.define_singleton_method(:to_ary) { converted << name; value }
      obj
    end
    cities = like.(FIVE_CITIES.each_with_index.map { |c, i| i.even? ? like.(c, i) : c }, :cities)
    assert_route(FIVE_ROUTE) { Corvelanth.solve(cities, like.(FIVE_ROBOT, :robot)) }
    assert_equal [:cities, 0, 2, 4, :robot], converted, "each converted once, in reading order"
    point = Struct.new(:x, :y, :label)
    assert_route(FIVE_ROUTE) { Corvelanth.solve(FIVE_CITIES.map { |x, y| point.new(x, y, "a") }, point.new(2, 14)) }

    only_to_a = Object.new
    def only_to_a.to_a = [1, 2]
    assert_refused(TypeError, /Object \(expected Array\)/) { Corvelanth.solve([only_to_a], FIVE_ROBOT) }
    assert_refused(TypeError, /to_ary gives Integer/) { Corvelanth.solve([like.(3, :bad)], FIVE_ROBOT) }
    assert_refused(ArgumentError, /city 0 /) { Corvelanth.solve([Struct.new(:x).new(1)], FIVE_ROBOT) }
  end

  # -- conversions that run Ruby code ---------------------------------------

  def test_a_to_f_that_raises
    refused = ScriptedCoordinate.new { raise ConversionRefused, "not today" }
    assert_refused(ConversionRefused, /not today/) { Corvelanth.solve([[1, 2], [refused, 3]], FIVE_ROBOT) }
    assert_refused(ConversionRefused) { Corvelanth.solve(FIVE_CITIES, [0, refused]) }
  end

  def test_a_to_f_that_throws_or_escapes_through_a_fiber
    thrower = ScriptedCoordinate.new { throw :bail, :thrown }
    result, out, err = capture_fds { catch(:bail) { Corvelanth.solve([[thrower, 1]], FIVE_ROBOT) } }
    assert_equal [:thrown, "", ""], [result, out, err]
    assert_still_works

    # A fiber left suspended inside a conversion, then dropped.
    fiber = Fiber.new { Corvelanth.solve([[ScriptedCoordinate.new { Fiber.yield :suspended }, 1]], FIVE_ROBOT) }
    result, out, err = capture_fds { fiber.resume }
    assert_equal [:suspended, "", ""], [result, out, err]
    fiber = nil
    GC.start
    assert_still_works
  end

  def test_a_fiber_suspended_inside_a_conversion_resumes_after_other_solves
    resumed_x = ScriptedCoordinate.new { Fiber.yield(:paused) || 7.0 }
    fiber = Fiber.new do
      Corvelanth.solve([[resumed_x, 2], [19, 11], [4, 14], [3, 12], [0, 20]], FIVE_ROBOT)
    end
    result, out, = capture_fds do
      assert_equal :paused, fiber.resume
      assert_equal [3, 0, 1, 2], Corvelanth.solve([[1, 1], [2, 2], [9, 9]], [0, 0])
      fiber.resume(nil)
    end
    assert_equal FIVE_ROUTE, result
    assert_equal ["travel\t12.7279", "travel\t41.5421"], out.scan(/^travel\t.*$/), "reports in call order"
    assert_still_works
  end

  def test_a_to_f_that_solves_again
    inner = []
    nested = ScriptedCoordinate.new do
      inner << solve([[1, 1], [2, 2], [9, 9]], [0, 0])
      begin
        Corvelanth.solve([[1, nil]], [0, 0])
      rescue TypeError
        inner << :refused
      end
      inner << solve(Array.new(200) { |i| [i % 20, i / 20] }, [0, 0]).size
      14
    end
    assert_route(FIVE_ROUTE) { Corvelanth.solve(FIVE_CITIES, [2, nested]) }
    assert_equal [[3, 0, 1, 2], :refused, 201], inner
  end

  def test_a_to_f_that_recurses_three_solves_deep
    depth = 0
    deepest = nil
    coordinate = ScriptedCoordinate.new do
      depth += 1
      deepest = [depth, deepest || 0].max
      Corvelanth.solve([[coordinate, 1], [5, 5]], [0, 0]) if depth < 3
      depth -= 1
      1.0
    end
    result, out, = capture_fds { Corvelanth.solve([[coordinate, 1], [5, 5]], [0, 0]) }
    assert_equal [2, 0, 1], result
    assert_equal 3, deepest
    assert_equal 3, out.scan("[Corvelanth]\n").size
    assert_still_works
  end

  def test_a_warning_hook_during_a_huge_integer_conversion_solves_again
    test = self
    solved_in_warning = nil
    hooked = Module.new do
      define_method(:warn) do |message, **options|
        solved_in_warning = test.solve([[3, 4]], [0, 0])
        super(message, **options)
      end
    end
    Warning.singleton_class.prepend(hooked)
    verbose = $VERBOSE
    $VERBOSE = true
    assert_route([3, 0, 2], /Bignum out of Float range.*No position\.\n\z/m) do
      Corvelanth.solve([[1, 0], [10**400, 0], [2, 0]], [0, 0])
    end
    assert_equal [1, 0], solved_in_warning
  ensure
    $VERBOSE = verbose
    hooked&.send(:remove_method, :warn)
  end

  def test_an_array_changed_by_a_conversion_is_read_as_it_is_when_reached
    cities = FIVE_CITIES.map(&:dup)
    grow = ScriptedCoordinate.new { 300.times { cities << [0, 0] }; 7 }
    cities[0] = [grow, 2]
    assert_route(FIVE_ROUTE) { Corvelanth.solve(cities, FIVE_ROBOT) }

    cities = FIVE_CITIES.map(&:dup)
    cities[0] = [ScriptedCoordinate.new { cities[3] = "garbage"; 7 }, 2]
    assert_refused(TypeError, /String/) { Corvelanth.solve(cities, FIVE_ROBOT) }
  end

  # An output object whose write runs the given block first.
  class WriteHook
    def initialize(io, &hook)
      @io = io
      @hook = hook
    end

    def write(*text)
      @hook.call
      @io.write(*text)
    end
  end

  # Runs the block with $stdout replaced by `io`.
  def with_stdout(io)
    saved = $stdout
    $stdout = io
    yield
  ensure
    $stdout = saved
  end

  def test_a_report_destination_whose_write_raises_or_solves_again
    refusing = WriteHook.new(STDOUT) { raise ConversionRefused, "no write" }
    assert_refused(ConversionRefused, /no write/) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: refusing) }

    writes = 0
    inner = nil
    solving = WriteHook.new(STDOUT) do
      writes += 1
      inner = Corvelanth.solve([[3, 4]], [0, 0]) if writes == 1
    end
    result, out, err = capture_fds { with_stdout(solving) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT) } }
    assert_equal [FIVE_ROUTE, [1, 0]], [result, inner]
    assert_equal ["travel\t5.0000", "travel\t41.5421"], out.scan(/^travel\t.*$/), "the inner report comes first"
    assert_equal "No position.\n", err
    assert_still_works
  end

  def test_a_report_destination_that_cannot_be_written_or_an_unknown_keyword
    assert_refused(TypeError, /report/) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: 3) }
    assert_refused(TypeError, /report/) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: BasicObject.new) }
    assert_refused(ArgumentError, /unknown keyword/) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, output: nil) }
    assert_refused(ArgumentError) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, { report: nil }) }
    assert_refused(ArgumentError, /unknown keyword: :improve/) { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, improve: true) }
    assert_refused(TypeError, /improve/) { Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT, improve: "yes") }
    # nil is plan's documented default: as quiet as leaving report: out.
    route, out, err = capture_fds { Corvelanth.plan([[0, 0], [40_000, 0]], [0, 0], report: nil) }
    assert_equal [[1], "", ""], [route.unplaced, out, err]
    assert_refused(TypeError, /improve/) { Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT, improve: 10.0) }
    [-1, 10_000_001, 2**70].each do |kicks|
      assert_refused(ArgumentError, /improve/) { Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT, improve: kicks) }
    end
  end

  def test_bad_costs_finishes_deadlines_and_points_for_plan_name_what_is_wrong
    three = [[0, 0], [3, 4], [6, 8]]
    good = Array.new(4) { |i| Array.new(4) { |j| (i - j).abs } }
    with = ->(i, j, value) { good.map(&:dup).tap { |m| m[i][j] = value } }
    {
      [TypeError, /wrong argument type Integer \(expected Array\)/] => { costs: 5 },
      [ArgumentError, /\Acosts must have 4 rows/] => { costs: good.first(3) },
      [ArgumentError, /\Acosts\[2\] must have 4 entries, not 3\z/] => { costs: good.each_with_index.map { |r, i| i == 2 ? r.first(3) : r } },
      [ArgumentError, /\Acosts\[1\]\[3\] is -1.0: costs must be finite and at least 0\z/] => { costs: with.(1, 3, -1) },
      [ArgumentError, /\Acosts\[0\]\[2\] is NaN/] => { costs: with.(0, 2, Float::NAN) },
      [ArgumentError, /\Acosts\[3\]\[0\] is Infinity/] => { costs: with.(3, 0, Float::INFINITY) },
      [TypeError, /\Acosts\[2\]\[1\] is "1", not a number\z/] => { costs: with.(2, 1, "1") },
      [ArgumentError, /\Acosts\[1\]\[2\] is 5.0 but costs\[2\]\[1\] is 1.0: costs must be symmetric\z/] =>
        { costs: with.(1, 2, 5.0) },
      [ArgumentError, /\Acosts must have 5 rows/] => { costs: good, finish: [1, 1] },
      [ArgumentError, /\Afinish must have two coordinates\z/] => { finish: [1] },
      [TypeError, /\Afinish: x is a String \("1"\), not a number/] => { finish: %w[1 2] },
      [ArgumentError, /time_limit: must be a positive/] => { time_limit: 0 },
      [ArgumentError, /time_limit: must be a positive/] => { time_limit: Float::NAN },
      [TypeError, /time_limit: must be a number of seconds/] => { time_limit: "1" },
      [ArgumentError, /improve: must be true, false, nil, :thorough/] => { improve: :fast }
    }.each do |(error, message), keywords|
      assert_refused(error, message) { Corvelanth.plan(three, [0, 0], **keywords) }
    end
    good[0][0] = "the diagonal is not read"
    assert_equal [3, 2, 1, 0], Corvelanth.plan(three, [0, 0], costs: good).order
  end

  def test_plan_takes_hashes_and_objects_with_x_and_y_and_names_the_bad_point
    at = Struct.new(:x, :y, :name)
    cities = [{ x: 7, y: 2 }, { "x" => 19, "y" => 11 }, at.new(4, 14, "a"), [3, 12],
              Object.new.tap { |o| def o.x = 0; def o.y = 20 }]
    assert_equal FIVE_ROUTE, Corvelanth.plan(cities, { x: 2, y: 14 }).order
    assert_equal cities.values_at(4, 2, 3, 0, 1), Corvelanth.plan(cities, [2, 14]).stops
    {
      [TypeError, /\Acity 1: y is a String \("12"\), not a number; convert numbers read from text first\z/] =>
        [[1, 2], [3, "12"]],
      [TypeError, /\Acity 0: x is nil, not a number\z/] => [{ x: nil, y: 1 }],
      [ArgumentError, /\Acity 0: a Hash point needs the keys :x and :y/] => [{ x: 1 }],
      [TypeError, /\Acity 2: a point is \[x, y\], a Hash with :x and :y, or an object with x and y \(given Integer\)\z/] =>
        [[1, 2], [3, 4], 5]
    }.each do |(error, message), bad|
      assert_refused(error, message) { Corvelanth.plan(bad, [0, 0]) }
    end
    assert_refused(TypeError, /\Arobot: x is true, not a number\z/) { Corvelanth.plan([[1, 2]], [true, 0]) }
  end

  def test_routes_stay_frozen_values_through_copies_and_marshal
    route = Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT)
    [route.dup, route.clone, Marshal.load(Marshal.dump(route))].each do |copy| # rubocop:disable Security/MarshalLoad
      assert copy.frozen?
      assert_equal route, copy
      assert_equal route.legs, copy.legs
    end
    assert_raises(ArgumentError) { route.clone(freeze: false) }
    assert_raises(NoMethodError) { Corvelanth::Route.allocate }
    assert_raises(NoMethodError) { Corvelanth::Route.new([5], 0.0, [], [], [], nil) }
    assert_raises(NoMethodError) { Corvelanth.new }
  end

  def test_arrays_that_contain_themselves_or_are_shared
    city = [nil, 2]
    city[0] = city
    assert_refused(TypeError, /Array into Float/) { Corvelanth.solve([city], FIVE_ROBOT) }
    cities = []
    cities << cities
    assert_refused(ArgumentError, /\Acity 0 /) { Corvelanth.solve(cities, FIVE_ROBOT) }
    shared = [3, 4]
    expected = solve([[3, 4], [3, 4], [3, 4]], [3, 4])
    assert_route(expected, "") { Corvelanth.solve([shared, shared, shared], shared) }
  end

  # -- too many cities -------------------------------------------------------

  def test_201_cities_of_garbage_are_refused_without_looking
    garbage = [nil, "x", :y, BasicObject.new, [ScriptedCoordinate.new { raise ConversionRefused }], []]
    cities = Array.new(201) { |i| garbage[i % garbage.size] }
    assert_refused(Corvelanth::TooManyCitiesError, /\Atoo many cities\z/) { Corvelanth.solve(cities, BasicObject.new) }
    assert_refused(Corvelanth::TooManyCitiesError, /\Atoo many cities\z/) { Corvelanth.solve(Array.new(100_000), nil) }
    lying = LyingArray.new(Array.new(201, [1, 2]))
    assert_refused(Corvelanth::TooManyCitiesError, /\Atoo many cities\z/) { Corvelanth.solve(lying, FIVE_ROBOT) }
  end

  # -- threads and the garbage collector ------------------------------------

  def test_calls_from_several_threads_at_once
    rng = Random.new(11)
    instances = Array.new(6) do |k|
      [Array.new(3 + (k * 9)) { [rng.rand(-500.0..500.0), rng.rand(-500.0..500.0)] }, [rng.rand(100.0), 0]]
    end
    expected = instances.map do |cities, robot|
      result, out, = capture_fds { Corvelanth.solve(cities, robot) }
      [result, out]
    end
    # Conversions that hand the lock to other threads between coordinates.
    yielding = ->(v) { ScriptedCoordinate.new { Thread.pass; v.to_f } }
    refused = ScriptedCoordinate.new { Thread.pass; raise ConversionRefused }

    outcomes, out, err = capture_fds do
      Array.new(8) do |t|
        Thread.new do
          Array.new(12) do |call|
            k = (t + call) % instances.size
            cities, robot = instances[k]
            case call % 4
            when 0 then [k, Corvelanth.solve(cities, robot)]
            when 1 then [k, Corvelanth.solve(cities.map { |x, y| [yielding.(x), y] }, robot)]
            when 2 then [:refused, (Corvelanth.solve([[1, 2], [refused, 1]], robot) rescue $!.class)]
            else [:short, (Corvelanth.solve(cities, [1]) rescue $!.class)]
            end
          end
        end
      end.flat_map(&:value)
    end
    raise outcomes if outcomes.is_a?(Exception)

    outcomes.each do |key, value|
      case key
      when :refused then assert_equal ConversionRefused, value
      when :short then assert_equal ArgumentError, value
      else assert_equal expected[key][0], value
      end
    end
    reports = out.split(/(?=^\[Corvelanth\]\n)/)
    solved = outcomes.reject { |key, _| key.is_a?(Symbol) }.map(&:first)
    assert_equal solved.map { |k| expected[k][1] }.sort, reports.sort, "every report whole and unmixed"
    assert_equal "", err
    assert_still_works
  end

  def test_solves_under_gc_stress
    rng = Random.new(5)
    cities = Array.new(6) { [rng.rand(1000.0), rng.rand(1000.0)] }
    expected = solve(cities, [500, 500])
    # Conversions that make garbage while the collector runs at every allocation.
    churning = cities.map { |x, y| [ScriptedCoordinate.new { x.to_s; x }, Rational(y)] }
    results = capture_fds do
      with_gc_stress do
        [Corvelanth.solve(churning, [500, 500]),
         (Corvelanth.solve([[1, 2], [ScriptedCoordinate.new { raise ConversionRefused }, 1]], [0, 0]) rescue $!.class),
         Corvelanth.solve([[3, 4]], [0, 0]),
         (Corvelanth.solve([], [0, 0]) rescue $!.message)]
      end
    end.first
    assert_equal [expected, ConversionRefused, [1, 0], "no city can be reached from the robot"], results
    assert_still_works
  end

  def test_a_city_dropped_by_its_own_conversion_survives_collection_and_compaction
    rng = Random.new(6)
    cities = Array.new(6) { [rng.rand(1000.0), rng.rand(1000.0)] }
    expected = solve(cities, [500, 500])
    # Only the call itself still holds city 3 when its y is read.
    dropped = cities.map(&:dup)
    dropped[3] = [ScriptedCoordinate.new do
      dropped[3] = nil
      GC.start
      GC.compact if GC.respond_to?(:compact)
      cities[3][0]
    end, Rational(cities[3][1])]
    assert_route(expected) { Corvelanth.solve(dropped, [500, 500]) }
  end
end
