# frozen_string_literal: true

class Corvelanth
  # The gem's version; the gemspec reads it from here.
  VERSION = "0.2.0"
end
