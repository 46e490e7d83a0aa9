# Routes with a finish, a round trip or given costs; deadlines, the progress
# block, and stopping a long search.
require_relative "test_helper"

class TestPlanModes < Minitest::Test
  include CorvelanthTestHelpers

  # Random instances: uniform, integer grid with repeated points, one city, two.
  def instances
    rng = Random.new(11)
    grid = Array.new(60) { [rng.rand(12), rng.rand(12)] }
    [Array.new(200) { [rng.rand * 1000, rng.rand * 1000] }, grid, [[5, 5]], [[1, 2], [9, 3]], []]
  end

  # Manhattan costs between the nodes of cities, robot and finish (when given).
  def manhattan(nodes)
    nodes.map { |a| nodes.map { |b| (a[0] - b[0]).abs + (a[1] - b[1]).abs } }
  end

  # The modes a route may be planned in, as plan's keywords.
  def modes(cities, robot)
    finish = [robot[0] + 50, robot[1] - 20]
    { "round trip" => { finish: robot }, "fixed finish" => { finish: finish },
      "costs" => { costs: manhattan(cities + [robot]) },
      "costs to a finish" => { finish: finish, costs: manhattan(cities + [robot, finish]) } }
  end

  # The cost between two nodes as the route travels it.
  def cost(keywords, nodes, a, b)
    return keywords[:costs][a][b] if keywords[:costs]

    dx = nodes[a][0] - nodes[b][0]
    dy = nodes[a][1] - nodes[b][1]
    Math.sqrt(dx * dx + dy * dy)
  end

  def test_every_mode_visits_every_city_once_from_the_robot_to_the_finish_and_sums_its_legs
    instances.each do |cities|
      robot = [500.5, 3]
      modes(cities, robot).each do |name, keywords|
        nodes = cities + [robot] + [keywords[:finish]].compact
        fixed = nil
        [false, 40, true].each do |improve|
          route = Corvelanth.plan(cities, robot, improve: improve, **keywords)
          what = "#{name}, #{cities.size} cities, improve: #{improve}"
          assert_equal cities.size, route.order.first, what
          assert_equal cities.size + 1, route.order.last, what if keywords[:finish]
          assert_equal (0...nodes.size).to_a, route.order.sort, what
          assert_empty route.unplaced, what
          assert_equal route.order.each_cons(2).map { |a, b| cost(keywords, nodes, a, b) }, route.legs, what
          assert_equal route.travel, route.legs.inject(0.0, :+), what
          assert_equal route.order.filter_map { |k| cities[k] if k < cities.size }, route.stops, what
          fixed ||= route.travel
          assert_operator route.travel, :<=, fixed, "#{what}: never longer than the fixed route"
        end
      end
    end
  end

  def test_with_costs_the_nodes_may_be_names_and_still_be_points
    costs = [[0, 4, 9, 1], [4, 0, 3, 2], [9, 3, 0, 5], [1, 2, 5, 0]]
    route = Corvelanth.plan(["shelf A", :shelf_b, [7, 7]], "dock", costs: costs, improve: true)
    assert_equal [3, 0, 1, 2], route.order
    assert_equal ["shelf A", :shelf_b, [7, 7]], route.stops
    assert_raises(TypeError) { Corvelanth.plan(["shelf A", [7, "7"]], "dock", costs: costs.first(3).map { _1.first(3) }) }
  end

  def test_a_kick_budget_gives_one_route_across_threads_and_instruction_set_paths
    cities = instances.first
    robot = [0, 0]
    plans = modes(cities, robot).values.map { |keywords| [keywords, :thorough] } + [[{}, 300]]
    routes = -> { plans.map { |keywords, kicks| Corvelanth.plan(cities, robot, improve: kicks, **keywords).order } }
    expected = routes.call
    assert_equal [expected] * 2, Array.new(2) { Thread.new(&routes) }.map(&:value)
    code = "plans, cities, robot = Marshal.load($stdin.read); " \
           "print Marshal.dump(plans.map { |k, i| Corvelanth.plan(cities, robot, improve: i, **k).order })"
    %w[sse2 avx2 avx512].each do |path|
      out, err, status = with_env("CORVELANTH_SIMD" => path) { run_ruby(code, stdin: Marshal.dump([plans, cities, robot])) }
      assert status.success?, err
      assert_equal expected, Marshal.load(out), "the #{path} path" # rubocop:disable Security/MarshalLoad
    end
  end

  def test_the_block_sees_better_routes_and_break_returns_its_value
    cities = instances.first
    seen = []
    result = Corvelanth.plan(cities, [0, 0], finish: [0, 0], improve: 10_000_000) do |best|
      seen << best
      break [:enough, best.travel] if seen.size == 2
    end
    assert_equal [:enough, seen.last.travel], result
    assert(seen.all? { |route| route.is_a?(Corvelanth::Route) && route.order.last == cities.size + 1 })
    assert_operator seen.last.travel, :<=, seen.first.travel
    calls = 0
    Corvelanth.plan(cities, [0, 0], improve: 50) { calls += 1 }
    assert_equal 0, calls, "a search shorter than the interval never calls the block"
    nested = Corvelanth.plan(cities, [0, 0], improve: 10_000_000) { break Corvelanth.plan(cities, [0, 0], improve: 5) }
    assert_equal Corvelanth.plan(cities, [0, 0], improve: 5), nested, "a plan inside the block has its own state"
  end

  def test_deadlines_and_interrupts_stop_a_long_search_and_leave_the_thread_usable
    cities = instances.first
    code = <<~RUBY
      require "timeout"
      cities = #{cities.inspect}
      again = -> { Corvelanth.plan(cities, [0, 0], improve: 200).order }
      expected = again.call
      Corvelanth.plan(cities, [0, 0], time_limit: 0.2)
      Corvelanth.plan(cities, [0, 0], improve: 10_000_000, costs: nil, time_limit: 0.2, finish: [1, 1])
      begin
        Timeout.timeout(0.2) { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) }
      rescue Timeout::Error
        puts "timeout"
      end
      puts "same after timeout" if again.call == expected
      worker = Thread.new { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) }
      sleep 0.1
      worker.kill.join
      raiser = Thread.new { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) rescue $!.message }
      sleep 0.1
      raiser.raise("raised")
      puts raiser.value
      Thread.new { sleep 0.2; Process.kill("INT", Process.pid) }
      begin
        Corvelanth.plan(cities, [0, 0], improve: 10_000_000)
      rescue Interrupt
        puts "interrupted"
      end
      puts "same after interrupts" if again.call == expected
      # A planning thread left running does not hold up the program's exit.
      Thread.new { Corvelanth.plan(cities, [0, 0], improve: 10_000_000) }
      sleep 0.1
    RUBY
    out, err, status = run_ruby_bounded(code, seconds: 30)
    assert status.success?, err
    assert_equal "timeout\nsame after timeout\nraised\ninterrupted\nsame after interrupts\n", out
  end

  private

  # Runs the block with environment variables set.
  def with_env(values)
    saved = values.keys.to_h { |k| [k, ENV.fetch(k, nil)] }
    values.each { |k, v| ENV[k] = v }
    yield
  ensure
    saved.each { |k, v| ENV[k] = v }
  end

  # run_ruby, killing the child should it outlive `seconds` (a search that never stops).
  def run_ruby_bounded(code, seconds:)
    result = nil
    runner = Thread.new { result = run_ruby(code) }
    flunk "the child was still running after #{seconds} s" unless runner.join(seconds)
    result
  end
end
