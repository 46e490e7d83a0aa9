# Where the run report goes: the report: keyword, $stdout as it is at the
# call, write failures, and outputs that block while other threads run.
require_relative "test_helper"
require "stringio"

class TestOutput < Minitest::Test
  include CorvelanthTestHelpers

  CITIES_200 = "Array.new(200) { |i| [(i * 37 % 101) * 9.5, (i * 53 % 97) * 7.25] }"

  def test_the_report_goes_to_stdout_as_it_is_at_the_call
    saved = $stdout
    $stdout = StringIO.new
    route = Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT)
    captured = $stdout.string
  ensure
    $stdout = saved
    assert_equal [5, 4, 2, 3, 0, 1], route
    assert_match(/\A\[Corvelanth\]\n.*travel\t41\.5421\n\z/m, captured)
  end

  def test_a_report_destination_or_none
    io = StringIO.new
    result, out, err = capture_fds do
      [Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: io), Corvelanth.solve([[3, 4]], [0, 0], report: nil),
       Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: false)]
    end
    assert_equal [[5, 4, 2, 3, 0, 1], [1, 0], [5, 4, 2, 3, 0, 1]], result
    assert_equal ["", "No position.\n"], [out, err], "no report, but the diagnostics still"
    assert_equal 1, io.string.scan("[Corvelanth]").size
  end

  def test_a_full_disk_or_a_closed_pipe_raises_from_solve
    assert_equal 3, exit_status_of("Corvelanth.solve(#{FIVE_CITIES}, [0, 0])", Errno::ENOSPC, out: "/dev/full")
    reader, writer = IO.pipe
    reader.close
    assert_equal 3, exit_status_of("loop { Corvelanth.solve(#{CITIES_200}, [0, 0]) }", Errno::EPIPE, out: writer)
    writer.close
  end

  # Runs `code` in a child process that exits 3 when it raises `error`.
  def exit_status_of(code, error, **redirection)
    pid = spawn(RbConfig.ruby, "-I", EXT_DIR, "-rCorvelanth", "-e", "begin; #{code}; rescue #{error}; exit 3; end",
                **redirection)
    Process.wait(pid)
    $?.exitstatus
  end

  def test_a_program_that_reads_its_own_stdout_from_a_thread_finishes
    # A report written with the lock held would block the reader for good.
    _, err, status = Open3.capture3("timeout", "60", RbConfig.ruby, "-I", EXT_DIR, "-e", <<~RUBY)
      require "Corvelanth"
      require "io/nonblock"
      r, w = IO.pipe
      w.nonblock = false
      STDOUT.reopen(w)
      Thread.new { loop { r.readpartial(1 << 16) } }
      cities = #{CITIES_200}
      20.times { Corvelanth.solve(cities, [0, 0]) }
      STDERR.print "done"
    RUBY
    assert_equal "done", err
    assert status.success?
  end

  def test_other_threads_run_while_a_report_waits_on_a_stalled_pipe
    # The pipe is non-blocking, as IO.pipe makes it: the report must still
    # arrive whole once the reader wakes up.
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      require "stringio"
      r, w = IO.pipe
      cities = #{CITIES_200}
      solver = Thread.new { 8.times.map { Corvelanth.solve(cities, [0, 0], report: w) } }
      ticks = 0
      ticker = Thread.new { 20.times { sleep 0.05; ticks += 1 } }
      ticker.join
      stalled = solver.alive?
      text = +""
      reader = Thread.new { loop { text << r.readpartial(1 << 16) } rescue EOFError }
      routes = solver.value
      w.close
      reader.join
      expected = StringIO.new
      Corvelanth.solve(cities, [0, 0], report: expected)
      print [ticks, stalled, routes.uniq.size, text == expected.string * 8].inspect
    RUBY
    assert status.success?, err
    assert_equal "[20, true, 1, true]", out
  end

  def test_a_destination_lock_is_let_go_after_a_failed_write_and_taken_again_inside_a_write
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      cities = [[0, 0], [3, 4], [6, 0]]
      class Flaky # fails its first write
        attr_reader :written
        def initialize = @calls = 0
        def write(text)
          @calls += 1
          raise IOError, "full" if @calls == 1
          @written = text.size
        end
      end
      class Echo # plans a report of its own to itself from inside its first write
        attr_reader :texts
        def initialize = @texts = []
        def write(text)
          @texts << text
          Corvelanth.solve([[1, 1], [2, 2]], [0, 0], report: self) if @texts.size == 1
          text.size
        end
      end
      flaky = Flaky.new
      begin
        Corvelanth.solve(cities, [0, 0], report: flaky)
      rescue IOError
      end
      Thread.new { Corvelanth.solve(cities, [0, 0], report: flaky) }.join(10) or abort "stuck after a failed write"
      echo = Echo.new
      Thread.new { Corvelanth.solve(cities, [0, 0], report: echo) }.join(10) or abort "stuck inside a write"
      print [flaky.written.positive?, echo.texts.size].inspect
    RUBY
    assert status.success?, err
    assert_equal "[true, 2]", out
  end

  def test_a_writer_held_up_between_its_lookup_and_its_lock_waits_for_the_next_writer
    # A is held at its lock's first method call, and meanwhile B writes whole
    # and C starts a write. A may write only once C is done.
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      cities = [[0, 0], [3, 4], [6, 0]]
      events = []
      a_held = Queue.new
      a_go = Queue.new
      c_writing = Queue.new
      a_resumed = false
      sink = Object.new
      sink.define_singleton_method(:write) do |text|
        who = Thread.current[:name]
        events << [who, :begins]
        if who == :c
          c_writing << true
          Thread.pass until a_resumed && (A.status == "sleep" || !A.alive?)
        end
        events << [who, :ends]
        text.size
      end
      hold = TracePoint.new(:c_call) do |tp|
        next unless tp.method_id == :owned? && Thread.current[:name] == :a && !a_resumed
        a_held << true
        a_go.pop
        a_resumed = true
      end
      hold.enable
      A = Thread.new { Thread.current[:name] = :a; Corvelanth.solve(cities, [0, 0], report: sink) }
      a_held.pop
      Thread.new { Thread.current[:name] = :b; Corvelanth.solve(cities, [0, 0], report: sink) }.join
      c = Thread.new { Thread.current[:name] = :c; Corvelanth.solve(cities, [0, 0], report: sink) }
      c_writing.pop
      a_go << true
      [A, c].each(&:join)
      hold.disable
      print events.inspect
    RUBY
    assert status.success?, err
    assert_equal "[[:b, :begins], [:b, :ends], [:c, :begins], [:c, :ends], [:a, :begins], [:a, :ends]]", out
  end

  def test_ractors_and_threads_solve_at_once_as_one_at_a_time
    out, err, status = run_ruby(<<~RUBY)
      require "Corvelanth"
      require "stringio"
      Warning[:experimental] = false
      instances = Array.new(6) { |k| [Array.new(20 + 30 * k) { |i| [(i * 7919 + k) % 1000, (i * 104729) % 997] }, [k, 0]] }
      solve = ->(cities, robot) { io = StringIO.new; [Corvelanth.solve(cities, robot, report: io), io.string] }
      expected = instances.map { |c, r| solve.(c, r) }
      ractors = Array.new(2) do
        Ractor.new(instances) do |list|
          list.map { |c, r| io = StringIO.new; [Corvelanth.solve(c, r, report: io), io.string] }
        end
      end
      threads = Array.new(3) { Thread.new { instances.map { |c, r| solve.(c, r) } } }
      results = ractors.map(&:take) + threads.map(&:value)
      print results.map { |r| r == expected }.inspect
    RUBY
    assert status.success?, err
    assert_equal "[true, true, true, true, true]", out
  end
end
