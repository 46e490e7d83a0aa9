# Corvelanth.solve through the real interpreter: results, errors and the report.
require_relative "test_helper"
require "stringio"

class TestSolve < Minitest::Test
  include CorvelanthTestHelpers

  def test_five_city_example
    assert_equal [5, 4, 2, 3, 0, 1], solve(FIVE_CITIES, FIVE_ROBOT)
  end

  def test_crossing_edges_are_untangled
    result, out, = capture_fds { Corvelanth.solve([[17, 4], [19, 2], [17, 5], [17, 18]], [20, 8]) }
    assert_equal [4, 1, 0, 2, 3], result
    assert_includes out, "travel\t22.9112\n"
  end

  def test_result_starts_at_the_robot_and_visits_every_city_once
    rng = Random.new(7)
    [1, 2, 3, 17, 60, 200].each do |count|
      cities = Array.new(count) { [rng.rand(1000.0), rng.rand(1000.0)] }
      route = solve(cities, [rng.rand(1000.0), rng.rand(1000.0)])
      assert_equal count, route.first
      assert_equal (0...count).to_a, route.drop(1).sort
      assert(route.all?(Integer))
    end
  end

  def test_integer_float_and_rational_coordinates_give_the_same_route
    floats = FIVE_CITIES.map { |x, y| [x.to_f, y.to_f] }
    rationals = FIVE_CITIES.map { |x, y| [Rational(x), Rational(y)] }
    expected = solve(FIVE_CITIES, FIVE_ROBOT)
    assert_equal expected, solve(floats, [2.0, 14.0])
    assert_equal expected, solve(rationals, [Rational(2), 14])
  end

  def test_extra_elements_are_ignored
    labelled = FIVE_CITIES.each_with_index.map { |(x, y), i| [x, y, "city #{i}", nil] }
    assert_equal [5, 4, 2, 3, 0, 1], solve(labelled, [2, 14, :ignored])
  end

  def test_one_city_writes_no_position_and_still_returns_it
    result, out, err = capture_fds { Corvelanth.solve([[3, 4]], [0, 0]) }
    assert_equal [1, 0], result
    assert_equal "No position.\n", err
    assert_includes out, "  0th\tc1\t0.0000 0.0000\n  1th\tc0\t3.0000 4.0000\n"
  end

  def test_three_cities
    route = solve([[1, 0], [2, 0], [3, 0]], [5, -1])
    assert_equal 4, route.size
    assert_equal 3, route.first
  end

  def test_city_that_can_never_be_placed_is_missing
    result, out, err = capture_fds { Corvelanth.solve([[20_000, 0], [-20_000, 0]], [0, 0]) }
    assert_equal [2, 0], result
    assert_equal "No position.\n", err
    assert_includes out, "travel\t20000.0000\n"
  end

  def test_exactly_200_cities_are_accepted
    cities = Array.new(200) { |i| [i % 20, i / 20] }
    route = solve(cities, [0, 0])
    assert_equal 201, route.size
  end

  def test_two_calls_in_a_row_are_independent
    first = solve(Array.new(50) { |i| [i * 3 % 17, i * 7 % 23] }, [5, 5])
    _, out, = capture_fds { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT) }
    assert_equal 51, first.size
    assert_equal 5, out.scan(/^\tc\d+\t/).size
    assert_equal [5, 4, 2, 3, 0, 1], solve(FIVE_CITIES, FIVE_ROBOT)
  end

  def test_class_shape
    assert_instance_of Class, Corvelanth
    assert_equal Object, Corvelanth.superclass
    assert_equal %i[plan solve], Corvelanth.singleton_methods.sort
    assert_equal(-1, Corvelanth.method(:solve).arity)
  end

  def test_plan_is_quiet_and_its_travel_is_the_reports_sum
    rng = Random.new(12)
    cities = Array.new(150) { [rng.rand(-1e3..1e3), rng.rand(1e3)] }
    robot = [0.5, -3.25]
    route, out, err = capture_fds { Corvelanth.plan(cities, robot) }
    assert_equal ["", ""], [out, err]
    points = cities + [robot]
    # Summed from the start one distance at a time (Enumerable#sum would compensate).
    travel = route.order.each_cons(2).inject(0.0) do |sum, (a, b)|
      dx = points[a][0] - points[b][0]
      dy = points[a][1] - points[b][1]
      sum + Math.sqrt((dx * dx) + (dy * dy))
    end
    assert_equal [solve(cities, robot), travel], [route.order, route.travel]
    io = StringIO.new
    assert_equal route, Corvelanth.plan(cities, robot, report: io)
    assert_includes io.string, format("travel\t%.4f\n", route.travel)
  end

  def test_an_improved_route_is_the_same_cities_from_the_robot_never_longer_and_repeatable
    rng = Random.new(14)
    instances = [[[[3, 4]], [0, 0]], [[[20_000, 0], [-20_000, 0], [19_000, 5]], [0, 0]],
                 [Array.new(120) { [rng.rand(100), rng.rand(100)] }, [50, 50]],
                 [Array.new(200) { [rng.rand * 1e3, rng.rand * 1e3] }, [0, 0]]]
    instances.each do |cities, robot|
      fixed = Corvelanth.plan(cities, robot)
      improved = Corvelanth.plan(cities, robot, improve: true)
      assert_equal [cities.size, fixed.order.sort, fixed.unplaced], [improved.order.first, improved.order.sort, improved.unplaced]
      assert_operator improved.travel, :<=, fixed.travel
      assert_equal improved, Corvelanth.plan(cities, robot, improve: 480) # the default budget in kicks
    end
    cities, robot = instances.last
    out, err, status = run_ruby("require 'Corvelanth'; print Corvelanth.plan(#{cities}, #{robot}, improve: 300).inspect")
    assert status.success?, err
    assert_equal Corvelanth.plan(cities, robot, improve: 300).inspect, out, "the same route in another process"
  end

  def test_the_extension_exports_only_its_initialiser
    nm = ENV.fetch("NM", "nm")
    symbols, status = Open3.capture2(nm, "-D", "--defined-only", File.join(EXT_DIR, "Corvelanth.so"))
    skip "#{nm} cannot read the extension" unless status.success?
    assert_equal ["Init_Corvelanth"], symbols.lines.map { |line| line.split.last }
  end
end
