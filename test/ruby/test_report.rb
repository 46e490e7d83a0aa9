# The run report, captured from a child process at the file-descriptor level.
require_relative "test_helper"

class TestReport < Minitest::Test
  include CorvelanthTestHelpers

  FIVE_CITY_REPORT = <<~REPORT.freeze
    [Corvelanth]
    cities
    \tc0\t7.0000 2.0000
    \tc1\t19.0000 11.0000
    \tc2\t4.0000 14.0000
    \tc3\t3.0000 12.0000
    \tc4\t0.0000 20.0000
    \trob\t2.0000 14.0000
    result
      0th\tc5\t2.0000 14.0000
      1th\tc4\t0.0000 20.0000
      2th\tc2\t4.0000 14.0000
      3th\tc3\t3.0000 12.0000
      4th\tc0\t7.0000 2.0000
      5th\tc1\t19.0000 11.0000
    travel\t41.5421
  REPORT

  def test_five_city_report_byte_for_byte
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      STDERR.puts Corvelanth.solve(#{FIVE_CITIES.inspect}, #{FIVE_ROBOT.inspect}).inspect
    RUBY
    assert status.success?, err
    assert_equal FIVE_CITY_REPORT, out
    assert_equal "[5, 4, 2, 3, 0, 1]\n", err
  end

  def test_report_comes_between_the_programs_own_output_on_a_pipe
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      puts "A"
      Corvelanth.solve([[3, 4]], [0, 0])
      puts "B"
    RUBY
    assert status.success?, err
    assert_match(/\AA\n\[Corvelanth\]\n.*travel\t5\.0000\nB\n\z/m, out)
  end

  def test_fork_after_a_solve_does_not_print_the_report_twice
    skip "no fork here" unless Process.respond_to?(:fork)
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      Corvelanth.solve([[3, 4]], [0, 0])
      pid = fork { exit!(0) }
      Process.wait(pid)
    RUBY
    assert status.success?, err
    assert_equal 1, out.scan("[Corvelanth]").size
  end

  def test_negative_coordinates_and_fractions_are_printed_with_four_decimals
    _, out, = capture_fds { Corvelanth.solve([[-0.5, 1.23456], [2.5, -3]], [5, -1]) }
    assert_includes out, "\tc0\t-0.5000 1.2346\n"
    assert_includes out, "\trob\t5.0000 -1.0000\n"
    assert_includes out, "  0th\tc2\t5.0000 -1.0000\n"
  end
end
