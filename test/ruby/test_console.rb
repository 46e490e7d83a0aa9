# The console program, run as a process.
require_relative "test_helper"

CONSOLE = File.expand_path(ENV.fetch("CORVELANTH_CONSOLE", File.join(__dir__, "..", "..", "build", "cmake", "corvelanth-console")))
PROMPT = "How many cities ... ".freeze
REFUSAL = "#{PROMPT}The city count must be a whole number from 0 to 200.\n".freeze
GOLDEN = File.join(__dir__, "..", "golden", "console.txt")

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

  # Runs the console with standard output and error sent where `redirects`
  # say (files by default); returns [stdout text, stderr text, status].
  def run_console_into(input, **redirects)
    Tempfile.create("in") do |stdin|
      stdin.write(input)
      stdin.rewind
      Tempfile.create("out") do |out|
        Tempfile.create("err") do |err|
          pid = Process.spawn(CONSOLE, { in: stdin, out: out, err: err }.merge(redirects))
          Process.wait(pid)
          [File.read(out.path), File.read(err.path), $?]
        end
      end
    end
  end

  # The golden file's streams by count: { "8" => { "stdout" => ..., "stderr" => ... } }.
  def golden_outputs
    sections = File.read(GOLDEN).split(/^== (\d+) (stdout|stderr)\n/).drop(1)
    sections.each_slice(3).each_with_object(Hash.new { |h, k| h[k] = {} }) do |(count, stream, text), golden|
      golden[count][stream] = text
    end
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
    ["-1\n", "201\n", "99999999999999999999\n", "2147483648\n", "abc\n", "", "   \n", "+\n", "--3\n", "5 6\n", "5abc\n",
     "7.9\n", "1e2\n", "0x10\n", "\n5\n", "5\r", "5\r \n", "5\r\r\n", "\r5\n", "\r\n", "- 5\n", "5\t;\n",
     "\t"].each do |input|
      out, err, status = run_console(input)
      refute status.success?, input.inspect
      assert_equal "", out, input.inspect
      assert_equal REFUSAL, err, input.inspect
    end
  end

  def test_blanks_around_the_count_a_sign_and_later_lines_are_accepted
    eight = run_console("8\n")
    [" 8", "\t 8 \t\n", "+8\nmore input\n", "0008", "8\r\n", " 8 \r\nmore\r\n"].each do |input|
      assert_equal eight, run_console(input), input.inspect
    end
    assert_equal run_console("0"), run_console("-0\n")
  end

  def test_golden_output
    golden = golden_outputs
    assert_equal %w[0 1 8 50], golden.keys
    golden.each do |count, streams|
      out, err, status = run_console("#{count}\n")
      assert status.success?, err
      assert_equal streams["stdout"], out, "stdout for #{count} cities"
      assert_equal streams["stderr"], err, "stderr for #{count} cities"
    end
  end

  def test_a_failed_write_ends_with_a_message_and_a_failure
    _, err, status = run_console_into("50\n", out: "/dev/full")
    refute status.success?
    assert_equal golden_outputs["50"]["stderr"] + "corvelanth-console: cannot write standard output: " \
                                                  "No space left on device\n", err
    out, _, status = run_console_into("8\n", err: "/dev/full")
    refute status.success?
    assert_equal golden_outputs["8"]["stdout"], out, "the route is still printed"
    _, err, status = run_console_into("abc\n", out: "/dev/full")
    assert_equal [1, REFUSAL], [status.exitstatus, err]
  end

  def test_limit_is_accepted
    out, _, status = run_console("200")
    assert status.success?
    assert_equal 201, out.lines.size
  end
end
