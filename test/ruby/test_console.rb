# The console program, run as a process.
require_relative "test_helper"

CONSOLE = File.expand_path(ENV.fetch("CORVELANTH_CONSOLE", File.join(__dir__, "..", "..", "build", "cmake", "corvelanth-console")))
PROMPT = "How many cities ... ".freeze
REFUSAL = "#{PROMPT}The city count must be a whole number from 0 to 200.\n".freeze

class TestConsole < Minitest::Test
  include CorvelanthTestHelpers

  def setup
    return if File.executable?(CONSOLE)
    # script/test always builds it; a bare `rake test` may not have.
    flunk "#{CONSOLE} is missing" if ENV["CORVELANTH_REQUIRE_CONSOLE"]
    skip "#{CONSOLE} is not built (script/build builds it)"
  end

  def run_console(input)
    Open3.capture3(CONSOLE, stdin_data: input)
  end

  # Parses route lines into [position, node, x, y].
  def route_lines(out)
    out.lines.map do |line|
      assert_match(/\A\d+ \d+ \d+\.\d\d \d+\.\d\d\n\z/, line)
      p, node, x, y = line.split
      [p.to_i, node.to_i, x.to_f, y.to_f]
    end
  end

  def test_count_zero
    out, err, status = run_console("0\n")
    assert_equal 0, status.exitstatus
    assert_equal "", out
    assert_equal "#{PROMPT}Too few city.\nError.\nlength  0.00\n", err
  end

  def test_count_one
    out, err, status = run_console("1\n")
    assert status.success?
    lines = route_lines(out)
    assert_equal [[0, 1], [1, 0]], lines.map { |p, node, _, _| [p, node] }
    assert_match(/\A#{Regexp.escape(PROMPT)}No position\.\nlength +\d+\.\d\d\n\z/, err)
  end

  def test_same_count_prints_the_same_bytes
    assert_equal run_console("37\n").take(2), run_console("37\n").take(2)
  end

  def test_console_and_extension_share_one_solver
    out, err, status = run_console("50\n")
    assert status.success?, err
    lines = route_lines(out)
    assert_equal 51, lines.size
    assert_equal (0..50).to_a, lines.map(&:first)
    coords = Array.new(51)
    lines.each { |_, node, x, y| coords[node] = [x, y] }
    route = solve(coords.first(50), coords[50])
    assert_equal lines.map { |_, node, _, _| node }, route
    # Summed in order, as the program does (Array#sum would compensate rounding).
    travel = lines.each_cons(2).inject(0.0) do |sum, ((_, _, x1, y1), (_, _, x2, y2))|
      sum + Math.sqrt(((x1 - x2) * (x1 - x2)) + ((y1 - y2) * (y1 - y2)))
    end
    assert_equal format("length %5.2f\n", travel), err.delete_prefix(PROMPT)
  end

  def test_refusals_draw_and_print_nothing
    ["-1\n", "201\n", "99999999999999999999\n", "2147483648\n", "abc\n", "", "   \n", "+\n", "--3\n"].each do |input|
      out, err, status = run_console(input)
      refute status.success?, input.inspect
      assert_equal "", out, input.inspect
      assert_equal REFUSAL, err, input.inspect
    end
  end

  def test_limit_is_accepted
    out, _, status = run_console("200")
    assert status.success?
    assert_equal 201, out.lines.size
  end
end
