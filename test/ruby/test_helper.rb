# Loads the built extension and offers fd-level capture of what a call prints.
require "minitest/autorun"
require "open3"
require "rbconfig"
require "tempfile"

EXT_DIR = File.expand_path(ENV.fetch("CORVELANTH_EXT_DIR", File.join(__dir__, "..", "..", "build", "ext")))
$LOAD_PATH.unshift(EXT_DIR)
require "Corvelanth"
# Corvelanth.plan and Route, over the extension under test.
PLAN_RB = File.expand_path("../../lib/corvelanth/plan.rb", __dir__)
require PLAN_RB

FIVE_CITIES = [[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]].freeze
FIVE_ROBOT = [2, 14].freeze

module CorvelanthTestHelpers
  # Runs the block with file descriptors 1 and 2 sent to files; returns
  # [block result or raised exception, stdout text, stderr text].
  def capture_fds
    out = Tempfile.new("out")
    err = Tempfile.new("err")
    saved_out = STDOUT.dup
    saved_err = STDERR.dup
    STDOUT.flush
    STDERR.flush
    STDOUT.reopen(out)
    STDERR.reopen(err)
    result = begin
      yield
    rescue StandardError => e
      e
    ensure
      STDOUT.flush
      STDERR.flush
      STDOUT.reopen(saved_out)
      STDERR.reopen(saved_err)
    end
    [result, File.read(out.path), File.read(err.path)]
  ensure
    [out, err, saved_out, saved_err].compact.each(&:close)
  end

  # Solves quietly and returns the route.
  def solve(cities, robot)
    result, = capture_fds { Corvelanth.solve(cities, robot) }
    raise result if result.is_a?(Exception)

    result
  end

  # Runs Ruby code in a child process with the extension and plan loaded.
  def run_ruby(code, stdin: "")
    Open3.capture3(RbConfig.ruby, "-I", EXT_DIR, "-r", "Corvelanth", "-r", PLAN_RB, "-e", code, stdin_data: stdin)
  end
end
