# frozen_string_literal: true

require "json"

class Corvelanth
  # Reads waypoint files: CSV, JSON or TSPLIB coordinates.
  module Waypoints
    # A waypoint file that cannot be read; the message names the file and,
    # where there is one, the line.
    class Error < Corvelanth::Error; end

    FORMATS = %w[csv json tsplib].freeze
    EXTENSIONS = { ".csv" => "csv", ".txt" => "csv", ".json" => "json", ".tsp" => "tsplib" }.freeze

    module_function

    # The format a file name's extension implies, or nil.
    def format_of(path)
      EXTENSIONS[File.extname(path).downcase]
    end

    # The points of +text+ in +format+ ("csv", "json" or "tsplib"), each
    # [x, y] as Floats, in file order; +name+ is the file's name for messages.
    def parse(text, format, name)
      case format
      when "csv" then parse_csv(text, name)
      when "json" then parse_json(text, name)
      when "tsplib" then parse_tsplib(text, name)
      else raise Error, "#{name}: unknown format #{format.inspect} (use #{FORMATS.join(", ")})"
      end
    end

    # "x,y" per line (further fields ignored); blank lines and lines starting
    # with # are skipped, and a first line that is not numbers is a header.
    def parse_csv(text, name)
      points = []
      text.each_line.with_index(1) do |line, number|
        fields = line.strip.split(",", -1).map(&:strip)
        next if fields.empty? || fields.first.start_with?("#")

        point = numbers(fields.first(2))
        if point.nil? || fields.size < 2
          next if points.empty? && number == first_content_line(text)

          raise Error, "#{name}:#{number}: expected x,y, got #{line.chomp.inspect}"
        end
        points << point
      end
      points
    end

    # An array of [x, y] arrays (further elements ignored).
    def parse_json(text, name)
      data = JSON.parse(text)
      raise Error, "#{name}: expected a JSON array of [x, y] points" unless data.is_a?(Array)

      data.each_with_index.map do |pair, i|
        point = pair.is_a?(Array) && pair.size >= 2 && pair.first(2).all?(Numeric) ? pair.first(2).map(&:to_f) : nil
        raise Error, "#{name}: point #{i}: expected [x, y], got #{JSON.generate(pair)}" unless point

        point
      end
    rescue JSON::ParserError => e
      raise Error, "#{name}: not JSON: #{e.message.lines.first.strip}"
    end

    # The "id x y" lines of NODE_COORD_SECTION, up to EOF or the next section.
    def parse_tsplib(text, name)
      lines = text.each_line.with_index(1).to_a
      start = lines.index { |line, _| line.strip == "NODE_COORD_SECTION" }
      raise Error, "#{name}: no NODE_COORD_SECTION" unless start

      points = []
      lines[(start + 1)..].each do |line, number|
        fields = line.split
        next if fields.empty?
        break if fields.first == "EOF" || fields.first.match?(/\A[A-Z_]+(_SECTION)?:?\z/)

        point = fields.size >= 3 && Integer(fields.first, exception: false) ? numbers(fields[1, 2]) : nil
        raise Error, "#{name}:#{number}: expected \"id x y\", got #{line.chomp.inspect}" unless point

        points << point
      end
      points
    end

    # The fields as Floats, or nil when one is not a finite number.
    def numbers(fields)
      values = fields.map { |f| Float(f, exception: false) }
      values.size == fields.size && values.all? { |v| v&.finite? } ? values : nil
    end

    # The number of the first line that is neither blank nor a comment.
    def first_content_line(text)
      text.each_line.with_index(1) do |line, number|
        stripped = line.strip
        return number unless stripped.empty? || stripped.start_with?("#")
      end
      nil
    end
  end
end
