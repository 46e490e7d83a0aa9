# Replays the cases in test/fuzz/ruby_cases/: inputs the Ruby-level fuzzer
# found failing once (shrunk), and a few written by hand, each with the
# baseline's outcome for its plain coordinates saved beside it.
require_relative "test_helper"
require_relative "../fuzz/ruby_harness"

class TestFuzzCases < Minitest::Test
  CASES = Dir[File.join(__dir__, "..", "fuzz", "ruby_cases", "*.json")].sort

  def test_saved_cases_behave
    refute_empty CASES
    CASES.each do |path|
      saved = JSON.parse(File.read(path))
      desc = saved.fetch("case")
      next if desc["method"] == "plan" && !Corvelanth.respond_to?(:plan)

      reference = ->(_desc, _plain) { saved.fetch("expected") || flunk("#{path}: no saved outcome to compare with") }
      assert_nil RubyFuzz.check(desc, reference), File.basename(path)
    end
  end
end
