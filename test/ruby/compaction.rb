# Preloaded with -r to run the Ruby suite under a compacting collector, so that
# an object the extension held without marking it, or marked without letting
# the collector update the reference, would be moved under it.
# CORVELANTH_COMPACTION says how:
#
#   auto    GC.auto_compact = true: every major collection compacts the heap
#   verify  before every test, GC.verify_compaction_references moves every
#           movable object towards empty pages and checks every reference
#
# The run fails if no compaction happened at all.
require "minitest"

mode = ENV.fetch("CORVELANTH_COMPACTION", "auto")
case mode
when "auto"
  GC.auto_compact = true
when "verify"
  # Compacts before each test, after the extension and every test file are loaded.
  module CompactBeforeEachTest
    @heap_doubled = false
    class << self
      attr_accessor :heap_doubled
    end

    def before_setup
      # Doubling the heap once gives every object a free slot to move to;
      # doubling it before every test would grow it without bound.
      GC.verify_compaction_references(toward: :empty, double_heap: !CompactBeforeEachTest.heap_doubled)
      CompactBeforeEachTest.heap_doubled = true
      super
    end
  end
  Minitest::Test.prepend(CompactBeforeEachTest)
else
  abort "compaction.rb: CORVELANTH_COMPACTION must be auto or verify, not #{mode.inspect}"
end

Minitest.after_run do
  compactions = GC.stat(:compact_count)
  warn "compaction (#{mode}): #{compactions} compactions"
  exit 1 if compactions.zero?
end
