# Reads valgrind memcheck XML logs and reports the errors that involve this
# project's code; exits 1 when there is any.
#
#   ruby test/memcheck/report.rb PROJECT_ROOT LOG.xml...
#
# An error involves our code when, walking its stack from the innermost frame
# and passing over the C library, the C++ runtime and valgrind's own
# replacements (memcpy, malloc, ...), the first frame belongs to a binary
# built in this project. For a leak the stack is where the block was
# allocated. Errors whose first such frame is in the interpreter are the
# interpreter's business, even when one of our calls led there.
require "rexml/document"

SYSTEM_OBJECT = %r{/(vgpreload_[^/]*|libc|libm|libstdc\+\+|libgcc_s|ld-linux[^/]*)\.so[^/]*\z}

root, *logs = ARGV
abort "usage: report.rb PROJECT_ROOT LOG.xml..." unless root && !logs.empty?
root = File.expand_path(root) + "/"

# Describes one frame as "function (file:line)" or "function (object)".
def describe(frame)
  fn = frame.elements["fn"]&.text || "???"
  file = frame.elements["file"]&.text
  where = file ? "#{file}:#{frame.elements['line']&.text}" : File.basename(frame.elements["obj"]&.text.to_s)
  "#{fn} (#{where})"
end

ours = []
counted = 0
suppressed = 0
logs.each do |log|
  doc = REXML::Document.new(File.read(log))
  command = doc.elements.to_a("valgrindoutput/args/argv/*").map(&:text).join(" ")
  doc.elements.each("valgrindoutput/suppcounts/pair/count") { |c| suppressed += c.text.to_i }
  doc.elements.each("valgrindoutput/error") do |error|
    counted += 1
    frames = error.get_elements("stack[1]/frame")
    first = frames.find { |f| f.elements["obj"] && f.elements["obj"].text !~ SYSTEM_OBJECT }
    next unless first && first.elements["obj"].text.start_with?(root)

    what = error.elements["what"]&.text || error.elements["xwhat/text"]&.text
    ours << ["#{error.elements['kind'].text}: #{what}", "  in: #{command}", *frames.first(20).map { |f| "    #{describe(f)}" }]
  end
end

ours.each { |lines| puts lines, "" }
puts "memcheck: #{logs.size} process(es), #{suppressed} interpreter errors suppressed, " \
     "#{counted} left, #{ours.size} involving our code"
exit(ours.empty? ? 0 : 1)
